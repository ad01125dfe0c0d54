// Lists a folder over FTP: one line per entry, "d" or "-", the size and the name.
//
//   filetransfer run list.js /server:HOST [/port:PORT] /user:NAME /password:SECRET [/dir:PATH]
//
// ReadDirectory hands its entry back through output arguments, which never
// reach a JScript caller; the control also keeps the entry it read last in its
// Entry* properties, which this script reads.
var args = WScript.Arguments.Named;
var fileErrorEndOfDirectory = 12269;

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('list.js: missing /' + name + ':VALUE');
        WScript.Quit(2);
    }
    return args.Item(name);
}

var ftp = new ActiveXObject('Tollane.FileTransfer');
ftp.ThrowError = true;
ftp.ServerName = need('server');
if (args.Exists('port')) ftp.ServerPort = Number(args.Item('port'));
ftp.UserName = need('user');
ftp.Password = need('password');
try {
    ftp.Connect();
    ftp.OpenDirectory(args.Exists('dir') ? args.Item('dir') : '');
    var name = '';
    for (;;) {
        try {
            ftp.ReadDirectory(name);
        } catch (e) {
            if ((e.number & 0xFFFF) == fileErrorEndOfDirectory) break;
            throw e;
        }
        WScript.Echo(
            (ftp.EntryIsDirectory ? 'd' : '-') + ' ' + ftp.EntrySize + ' ' + ftp.EntryName);
    }
    ftp.CloseDirectory();
    ftp.Disconnect();
} catch (e) {
    WScript.StdErr.WriteLine('listing failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
