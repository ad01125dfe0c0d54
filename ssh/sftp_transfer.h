// Pipelined SSH_FXP_READ and SSH_FXP_WRITE requests of one transfer object.
#pragma once

#include <functional>
#include <memory>
#include <span>

#include "ssh/sftp_session.h"

// Requests in flight: 64 blocks of 32 KiB, as much as a fast link needs to stay
// busy; servers with the SFTP-window workaround get one small block at a time.
// A server that states its limits ("limits@openssh.com") gets blocks up to the
// limits it states, at most kSftpLimitBlock, and 16 of them in flight: every
// request costs the server a system call and a reply.
constexpr std::uint64_t kSftpLargeWindow = 2 * 1024 * 1024;
constexpr std::uint32_t kSftpLargeBlock = 32768;
constexpr std::uint32_t kSftpLimitBlock = 255 * 1024;
constexpr std::uint32_t kSftpSmallWindow = 8192;

std::unique_ptr<SftpTransfer> MakeTransfer(const SftpSession& session, std::string handle,
                                           bool download, std::uint64_t start);
// Records the transfer's first failure (the session's current error and status).
void MarkFailed(SftpSession& session, SftpTransfer& transfer);
// Clears the cancel flag and marks the transfer failed (10004, with the cancel
// event) when a cancel was asked for; true then.
bool TakeCancel(SftpSession& session, SftpTransfer& transfer, SftpTransferRecord& record);
// Downloads: sends reads while the window has room. False when sending failed.
// The one place a transfer's state changes (traced as "SFTP transfer state Old -> New").
void SetState(SftpTransfer& transfer, SftpTransferState state);
bool QueueReads(SftpSession& session, SftpTransfer& transfer);
// Uploads: sends one piece as SSH_FXP_WRITE.
bool SendWrite(SftpSession& session, SftpTransfer& transfer, std::span<const std::uint8_t> piece);
bool WindowHasRoom(const SftpTransfer& transfer);
// Receives one reply and applies it to its block. False when no packet could be
// taken (the transfer is then over: its outstanding requests are abandoned).
bool ReceiveOne(SftpSession& session, SftpTransfer& transfer);
// Hands the answered head blocks' data out in offset order; a false from the sink
// stops it.
bool DeliverInOrder(SftpTransfer& transfer,
                    const std::function<bool(std::span<const std::uint8_t>)>& sink);
// Abandons what is outstanding, closes the handle and restores the first failure.
bool FinishTransfer(SftpSession& session, SftpTransfer& transfer);
