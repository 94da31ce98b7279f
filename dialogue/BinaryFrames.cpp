// Data frames and command frames to the device's loader, each sent and awaited once.
#include "dialogue/Dialogue.h"

int Dialogue::WaitResult(uint8_t* reply) {
    switch (AwaitReply(reply)) {
    case WaitOutcome::Stopped:
        return FrameStopped;
    case WaitOutcome::TimedOut:
        return FrameTimedOut;
    case WaitOutcome::Replied:
        break;
    }
    return 0;
}

DataFrameSource FrameSourceOf(const FirmwarePackageData& p) {
    return {p.Kind(),      p.BlockCount(), p.BlockSize(), p.BlockData, int32_t(sizeof p.BlockData),
            p.EndParam1(), p.EndParam2()};
}

int Dialogue::SendDataFrame(uint16_t index) {
    uint8_t frame[DataFrameBufferSize] = {FrameMark0, FrameMark1};
    uint8_t reply[ReplyBufferSize] = {};
    const FirmwarePackageData& package = *Seams.Package;
    // A package whose blocks do not fit a frame is as unusable as none: nothing is sent.
    const int32_t length =
        BuildDataFrame(FrameSourceOf(package), index, frame, int32_t(sizeof frame));
    if (length == 0) {
        Seams.View->ShowStatus("无效的升级文件!");
        return NoPackage;
    }
    SendBytes(frame, length);
    ++FramesSent;
    DataFrameWaiting = true;
    AwaitedBlock = index;
    const int stopped = WaitResult(reply);
    DataFrameWaiting = false;
    if (stopped != 0) return stopped;
    return JudgeDataReply(reply, package.Kind());
}

bool Dialogue::PortReopened() {
    if (!DataFrameWaiting) return false;
    uint8_t frame[DataFrameBufferSize] = {FrameMark0, FrameMark1};
    const int32_t length =
        BuildDataFrame(FrameSourceOf(*Seams.Package), AwaitedBlock, frame, int32_t(sizeof frame));
    if (length == 0) return false;
    ++Reconnects;
    ++Resends;
    ++FramesSent;
    Seams.View->Resend(AwaitedBlock);
    SendBytes(frame, length);
    Seams.Timer->Restart(); // the resent block has its whole time-out
    return true;
}

int Dialogue::SendCommandFrame(uint8_t code, const uint8_t* payload, int length) {
    uint8_t frame[CommandFrameBufferSize] = {FrameMark0, FrameMark1};
    uint8_t reply[ReplyBufferSize] = {};
    const int32_t frameLength =
        BuildCommandFrame(code, payload, length, frame, int32_t(sizeof frame));
    SendBytes(frame, frameLength);
    if (const int stopped = WaitResult(reply); stopped != 0) return stopped;
    return JudgeCommandReply(reply);
}
