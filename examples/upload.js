// Uploads one file over FTP.
//
//   filetransfer run upload.js /server:HOST [/port:PORT] /user:NAME /password:SECRET
//                              /local:FILE /remote:PATH
var args = WScript.Arguments.Named;

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('upload.js: missing /' + name + ':VALUE');
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
    ftp.PutFile(need('local'), need('remote'));
    WScript.Echo('uploaded ' + ftp.TransferBytes + ' bytes');
    ftp.Disconnect();
} catch (e) {
    WScript.StdErr.WriteLine('upload failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
