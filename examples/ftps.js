// Connects over FTP with TLS, tells what the certificate check found and
// downloads a file when /remote and /local are given.
//
//   filetransfer run ftps.js /server:HOST [/port:PORT] /user:NAME /password:SECRET
//                            [/implicit] [/insecure] [/remote:PATH /local:FILE]
//
// /implicit: TLS from the first byte (port 990) instead of AUTH TLS;
// /insecure: go on when the certificate is not valid (else the script stops
// there with exit status 3).
var args = WScript.Arguments.Named;
var fileOptionAcceptInvalidCertificate = 2048;
var fileOptionSecureImplicit = 4096;
var fileOptionSecureExplicit = 8192;
var certificateStatus =
    ['none', 'valid', 'name does not match', 'expired', 'revoked', 'untrusted', 'invalid'];

function need(name) {
    if (!args.Exists(name)) {
        WScript.StdErr.WriteLine('ftps.js: missing /' + name + ':VALUE');
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
var options = args.Exists('implicit') ? fileOptionSecureImplicit : fileOptionSecureExplicit;
if (args.Exists('insecure')) options |= fileOptionAcceptInvalidCertificate;
ftp.Options = options;
try {
    ftp.Connect();
    var status = ftp.CertificateStatus;
    WScript.Echo('certificate status ' + status + ' (' + certificateStatus[status] + ')');
    WScript.Echo('subject ' + ftp.CertificateSubject);
    WScript.Echo('issuer ' + ftp.CertificateIssuer);
    WScript.Echo('cipher strength ' + ftp.CipherStrength + ' bits');
    if (status != 1 && !args.Exists('insecure')) {
        ftp.Disconnect();
        WScript.StdErr.WriteLine('ftps.js: the certificate is not valid; /insecure goes on');
        WScript.Quit(3);
    }
    if (args.Exists('remote')) {
        ftp.GetFile(need('local'), args.Item('remote'));
        WScript.Echo('downloaded ' + ftp.TransferBytes + ' bytes');
    }
    ftp.Disconnect();
} catch (e) {
    WScript.StdErr.WriteLine('ftps failed: error ' + (e.number & 0xFFFF) + ': ' + e.description);
    WScript.Quit(1);
}
