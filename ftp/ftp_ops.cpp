// The FTP operations table, and the one place a connect chooses its protocol.
#include "ftp/ftp_ops.h"

namespace ftp {

const ProtocolOps kFtpOperations = {
    .commandChannel = true,
    .sftpListings = false,
    .fixedDirectoryFormat = FTP_DIRECTORY_AUTO,
    .verifyMethods = FTP_VERIFY_ALL,
    .connect = ftpops::Connect,
    .cancel = ftpops::Cancel,
    // The sockets and TLS channels go with every session.
    .release = [](FtpSession&) {},
    .connectionSocket = [](const FtpSession& session) { return session.controlSocket.get(); },
    .securityInfo = ftpops::SecurityInfoOf,
    .shellInfo = [](FtpSession&, FtpShellInfo*) { return 1; },
    .changeDirectory = ftpops::ChangeDirectory,
    .currentDirectory = ftpops::CurrentDirectory,
    .openListing = ftpops::OpenListing,
    .readListingLine = ftpops::ReadListingLine,
    .closeListing = ftpops::CloseListing,
    .fileList = ftpops::FileList,
    .fileSize = ftpops::FileSize,
    .fileInfo = ftpops::FileEntry,
    .getPermissions = ftpops::GetPermissions,
    .setPermissions = ftpops::SetPermissions,
    .getFileTime = ftpops::GetFileTime,
    .setFileTime = ftpops::SetFileTime,
    .deleteFile = ftpops::DeleteFile,
    .renameFile = ftpops::RenameFile,
    .makeDirectory = ftpops::MakeDirectory,
    .removeDirectory = ftpops::RemoveDirectory,
    .getFile = ftpops::GetFile,
    .putFile = ftpops::PutFile,
    .getData = ftpops::GetData,
    .putData = ftpops::PutData,
    .beginTransfer = ftpops::BeginTransfer,
    .read = ftpops::Read,
    .write = ftpops::Write,
    .endTransfer = ftpops::EndTransfer,
};

const ProtocolOps& OperationsFor(std::uint32_t options) {
    return (options & FTP_OPTION_SECURE_SHELL) != 0 ? kSftpOperations : kFtpOperations;
}

}  // namespace ftp
