#include <algorithm>
#include <iterator>

#include "net/state_trace.h"
#include "resources/errors.h"
#include "ssh/sftp_transfer.h"

std::unique_ptr<SftpTransfer> MakeTransfer(const SftpSession& session, std::string handle,
                                           bool download, std::uint64_t start) {
    auto transfer = std::make_unique<SftpTransfer>();
    transfer->handle = std::move(handle);
    transfer->download = download;
    transfer->nextOffset = start;
    const std::uint32_t block = download ? session.readBlock : session.writeBlock;
    transfer->window = session.smallWindow
                           ? kSftpSmallWindow
                           : std::max<std::uint64_t>(kSftpLargeWindow, 16ull * block);
    transfer->blockSize = session.smallWindow ? kSftpSmallWindow : block;
    if (!download) SetState(*transfer, SftpTransferState::Writing);
    return transfer;
}

void SetState(SftpTransfer& transfer, SftpTransferState state) {
    static constexpr const char* kNames[] = {"Reading", "Writing", "Draining", "Failed"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(SftpTransferState::Failed) + 1);
    net::ChangeState(transfer.state, state, "SFTP transfer", kNames);
}

namespace {

// The end of the file ends a download's requests; a failure stays.
void MarkEndOfFile(SftpTransfer& transfer) {
    if (transfer.state == SftpTransferState::Reading) {
        SetState(transfer, SftpTransferState::Draining);
    }
}

}  // namespace

void MarkFailed(SftpSession& session, SftpTransfer& transfer) {
    if (!transfer.failed() || transfer.failure == 0) {
        transfer.failure = ErrorNumber(session.lastError);
        transfer.failureStatus = session.lastStatus;
    }
    SetState(transfer, SftpTransferState::Failed);
}

bool TakeCancel(SftpSession& session, SftpTransfer& transfer, SftpTransferRecord& record) {
    if (!session.cancel) return false;
    session.cancel = false;
    session.lastStatus = -1;
    session.Fail(fileErrorOperationCanceled);
    MarkFailed(session, transfer);
    session.Raise(kSftpEventCanceled, &record);
    return true;
}

namespace {

void FailTransfer(SftpSession& session, SftpTransfer& transfer, int number) {
    session.lastStatus = -1;
    session.Fail(number);
    MarkFailed(session, transfer);
}

bool SendBlock(SftpSession& session, SftpTransfer& transfer, SftpWriter& request, SftpBlock block) {
    if (!session.SendRequest(request, block.id)) {
        session.requests.erase(
            std::remove_if(session.requests.begin(), session.requests.end(),
                           [&](const SftpRequest& r) { return r.id == block.id; }),
            session.requests.end());
        MarkFailed(session, transfer);
        return false;
    }
    transfer.nextOffset += block.length;
    transfer.outstanding += block.length;
    transfer.blocks.push_back(std::move(block));
    return true;
}

void ApplyData(SftpSession& session, SftpTransfer& transfer, SftpBlock& block, SftpReply& reply) {
    std::span<const std::uint8_t> data;
    if (!reply.fields.ReadString(&data) || !reply.fields.Finish() || data.size() > block.length) {
        block.state = -1;
        FailTransfer(session, transfer, fileErrorInvalidServerResponse);
        return;
    }
    if (data.empty()) {
        block.state = -1;
        MarkEndOfFile(transfer);
        return;
    }
    // The block takes the packet over; the reply reads the next one into a
    // spare buffer.
    block.dataAt = static_cast<std::size_t>(data.data() - reply.payload.data());
    block.packet.swap(reply.payload);
    block.received = static_cast<std::uint32_t>(data.size());
    block.state = 1;
    transfer.furthest = std::max(transfer.furthest, block.offset);
    if (block.received < block.length) {
        transfer.endOfFile = std::min(transfer.endOfFile, block.offset + block.received);
    }
    if (transfer.furthest >= transfer.endOfFile) {
        FailTransfer(session, transfer, fileErrorFileSizeMismatch);
    }
}

void ApplyReadStatus(SftpSession& session, SftpTransfer& transfer, SftpBlock& block,
                     SftpReply& reply) {
    block.state = -1;
    const bool ok = session.CheckStatus(reply);
    if (session.lastStatus == 1) {
        MarkEndOfFile(transfer);
        session.Fail(0);
        return;
    }
    if (ok) session.Fail(fileErrorUnexpectedServerResponse);
    MarkFailed(session, transfer);
}

}  // namespace

bool WindowHasRoom(const SftpTransfer& transfer) {
    return transfer.outstanding < transfer.window;
}

bool QueueReads(SftpSession& session, SftpTransfer& transfer) {
    while (WindowHasRoom(transfer) && transfer.state == SftpTransferState::Reading) {
        SftpBlock block;
        block.id = session.NewRequestId();
        block.offset = transfer.nextOffset;
        block.length = transfer.blockSize;
        SftpWriter request(SSH_FXP_READ);
        request.Uint32(block.id).String(transfer.handle).Uint64(block.offset).Uint32(block.length);
        if (!SendBlock(session, transfer, request, std::move(block))) return false;
    }
    return true;
}

bool SendWrite(SftpSession& session, SftpTransfer& transfer, std::span<const std::uint8_t> piece) {
    SftpBlock block;
    block.id = session.NewRequestId();
    block.offset = transfer.nextOffset;
    block.length = static_cast<std::uint32_t>(piece.size());
    SftpWriter request(SSH_FXP_WRITE);
    request.Uint32(block.id).String(transfer.handle).Uint64(block.offset).Bytes(piece);
    return SendBlock(session, transfer, request, std::move(block));
}

bool ReceiveOne(SftpSession& session, SftpTransfer& transfer) {
    SftpReply& reply = transfer.reply;
    if (reply.payload.capacity() == 0 && !transfer.spare.empty()) {
        reply.payload.swap(transfer.spare.back());
        transfer.spare.pop_back();
    }
    const bool received = session.ReceiveReply(reply);
    auto block = received ? std::find_if(transfer.blocks.begin(), transfer.blocks.end(),
                                         [&](const SftpBlock& b) { return b.id == reply.id; })
                          : transfer.blocks.end();
    if (received && block == transfer.blocks.end()) {
        session.lastStatus = -1;
        session.Fail(fileErrorInvalidPacketId);
    }
    if (block == transfer.blocks.end()) {
        MarkFailed(session, transfer);
        session.AbandonRequests(transfer.blocks);
        transfer.blocks.clear();
        transfer.outstanding = 0;
        return false;
    }
    transfer.outstanding -= std::min<std::uint64_t>(transfer.outstanding, block->length);
    if (!transfer.download) {
        block->state = session.CheckStatus(reply) ? 1 : -1;
        if (block->state < 0) MarkFailed(session, transfer);
        transfer.blocks.erase(block);
        return true;
    }
    if (reply.type == SSH_FXP_DATA) {
        ApplyData(session, transfer, *block, reply);
    } else {
        ApplyReadStatus(session, transfer, *block, reply);
    }
    return true;
}

// Enough spare packet buffers for replies that come while earlier blocks wait.
constexpr std::size_t kSparePackets = 16;

bool DeliverInOrder(SftpTransfer& transfer,
                    const std::function<bool(std::span<const std::uint8_t>)>& sink) {
    while (!transfer.blocks.empty() && transfer.blocks.front().state != 0) {
        SftpBlock block = std::move(transfer.blocks.front());
        transfer.blocks.pop_front();
        const bool delivered =
            block.state != 1 || transfer.failed() ||
            sink(std::span<const std::uint8_t>(block.packet).subspan(block.dataAt, block.received));
        if (block.packet.capacity() != 0 && transfer.spare.size() < kSparePackets) {
            transfer.spare.push_back(std::move(block.packet));
        }
        if (!delivered) return false;
    }
    return true;
}

bool FinishTransfer(SftpSession& session, SftpTransfer& transfer) {
    session.AbandonRequests(transfer.blocks);
    transfer.blocks.clear();
    transfer.outstanding = 0;
    const bool closed = !session.closed && session.CloseHandle(transfer.handle);
    if (transfer.failed()) {
        session.lastStatus = transfer.failureStatus;
        session.Fail(transfer.failure != 0 ? transfer.failure : fileErrorServerTransactionFailed);
        return false;
    }
    return closed;
}
