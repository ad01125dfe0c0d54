// Copies the files of a folder that match a mask, over FTP: downloads them
// into a local folder, or with /up uploads the local folder's matching files.
//
//   filetransfer run mirror.js /server:HOST [/port:PORT] /user:NAME /password:SECRET
//                              /remote:DIR /local:DIR [/mask:*.txt] [/up] [/text]
//
// Files are copied byte for byte; with /text, text files (by extension) have
// their line ends converted as FTP's text type does.
var args = WScript.Arguments.Named;
var fileTypeAuto = 0;
var fileTypeBinary = 3;

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('mirror.js: missing /' + name + ':VALUE');
        WScript.Quit(2);
    }
    return args.Item(name);
}

var ftp = WScript.CreateObject('Tollane.FileTransfer', 'ftp_');
var files = 0, done = {};

// A file is copied when its progress reaches 100% (which may be told more than once).
function ftp_OnProgress(fileName, fileSize, bytesCopied, percent) {
    if (percent == 100 && !done.hasOwnProperty('~' + fileName)) {
        done['~' + fileName] = true;
        ++files;
        WScript.Echo('copied ' + fileName + ' (' + fileSize + ' bytes)');
    }
}

ftp.ThrowError = true;
ftp.FileType = args.Exists('text') ? fileTypeAuto : fileTypeBinary;
ftp.ServerName = need('server');
if (args.Exists('port')) ftp.ServerPort = Number(args.Item('port'));
ftp.UserName = need('user');
ftp.Password = need('password');
var mask = args.Exists('mask') ? args.Item('mask') : '*';
try {
    ftp.Connect();
    if (args.Exists('up')) {
        ftp.PutMultipleFiles(need('local'), need('remote'), mask);
    } else {
        ftp.GetMultipleFiles(need('local'), need('remote'), mask);
    }
    ftp.Disconnect();
    WScript.Echo(files + ' files');
} catch (e) {
    WScript.StdErr.WriteLine('mirror failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
