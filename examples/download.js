// Downloads one file over FTP with a progress display.
//
//   filetransfer run download.js /server:HOST [/port:PORT] /user:NAME /password:SECRET
//                                /remote:PATH /local:FILE
var args = WScript.Arguments.Named;

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('download.js: missing /' + name + ':VALUE');
        WScript.Quit(2);
    }
    return args.Item(name);
}

// The control's events call the functions named "ftp_" + event name.
var ftp = WScript.CreateObject('Tollane.FileTransfer', 'ftp_');
var lastPercent = -1;

function ftp_OnProgress(fileName, fileSize, bytesCopied, percent) {
    if (percent == lastPercent) return;
    lastPercent = percent;
    WScript.StdOut.WriteLine(
        'progress ' + fileName + ' ' + bytesCopied + '/' + fileSize + ' ' + percent + '%');
}

ftp.ThrowError = true;  // failures become exceptions with number and description
ftp.ServerName = need('server');
if (args.Exists('port')) ftp.ServerPort = Number(args.Item('port'));
ftp.UserName = need('user');
ftp.Password = need('password');
try {
    ftp.Connect();
    ftp.GetFile(need('local'), need('remote'));
    WScript.Echo('downloaded ' + ftp.TransferBytes + ' bytes');
    ftp.Disconnect();
} catch (e) {
    WScript.StdErr.WriteLine(
        'download failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
