// Connects over SSH, checks the server's host key against a known_hosts file
// and uploads or downloads one file over SFTP.
//
//   filetransfer run sftp.js /server:HOST [/port:PORT] /user:NAME /password:SECRET
//                            [/knownhosts:FILE] (/get | /put) /remote:PATH /local:FILE
//
// With /knownhosts the key must be listed there; without it a new host is
// recorded in ~/.ssh/known_hosts.
var args = WScript.Arguments.Named;
var fileOptionSecureShell = 16384;
var fileHostKeyAcceptNew = 1;
var fileHostKeyStrict = 2;

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('sftp.js: missing /' + name + ':VALUE');
        WScript.Quit(2);
    }
    return args.Item(name);
}

var sftp = new ActiveXObject('Tollane.FileTransfer');
sftp.ThrowError = true;
sftp.Options = fileOptionSecureShell;
sftp.ServerName = need('server');
sftp.ServerPort = args.Exists('port') ? Number(args.Item('port')) : 22;
sftp.UserName = need('user');
sftp.Password = need('password');
if (args.Exists('knownhosts')) {
    sftp.KnownHostsFile = args.Item('knownhosts');
    sftp.HostKeyPolicy = fileHostKeyStrict;
} else {
    sftp.HostKeyPolicy = fileHostKeyAcceptNew;
}
try {
    sftp.Connect();
    WScript.Echo('server ' + sftp.ServerVersion);
    WScript.Echo('host key ' + sftp.FingerprintSHA256 + ' (status ' + sftp.HostKeyStatus + ')');
    if (args.Exists('put')) {
        sftp.PutFile(need('local'), need('remote'));
        WScript.Echo('uploaded ' + sftp.TransferBytes + ' bytes');
    } else {
        sftp.GetFile(need('local'), need('remote'));
        WScript.Echo('downloaded ' + sftp.TransferBytes + ' bytes');
    }
    sftp.Disconnect();
} catch (e) {
    WScript.StdErr.WriteLine('sftp failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
