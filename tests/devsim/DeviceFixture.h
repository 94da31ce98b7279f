#pragma once
// The tool's side of the device tests: the device in-process on a pseudo-terminal, a package
// through the real loader, frames built and replies judged with the tool's own codec.
#include "dialogue/FrameCodec.h"
#include "dialogue/ReplyRecognition.h"
#include "package/FirmwarePackage.h"
#include "package/PackageWriter.h"
#include "tools/devsim/PtyLine.h"
#include "tools/devsim/VirtualDevice.h"

#include "ToolSide.h"
#include "tests/package/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

namespace devsim::test {

using namespace devsim;

inline const std::vector<uint8_t> kPing = {0x66, 0xCC, 0xFF, 0x00, 0x00, 0xA3, 0x10, 0x53, 0x52};
inline const std::vector<uint8_t> kPingReply = {0x66, 0xCC, 0xFF, 0x80, 0x00,
                                                0xE8, 0x88, 0xD0, 0x69};

inline double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package_ = std::make_unique<FirmwarePackageData>();
        LoadTestPackage(5, 256);
    }
    void TearDown() override {
        tool_.Close();
        if (device_) device_->Stop();
    }

    // A package of kind 16 through the real loader, so frames come from what the tool holds.
    void LoadTestPackage(uint16_t blockCount, uint16_t blockSize) {
        PackageLayout layout;
        layout.Kind = 16;
        layout.BlockSize = blockSize;
        layout.BlockCount = blockCount;
        layout.EndParam1 = {0x11, 0x22, 0x33, 0x44};
        layout.EndParam2 = {0xA1, 0xB2, 0xC3, 0xD4};
        const std::string path = dir_.Write("test.enc2", BuildPackage(layout));
        ASSERT_EQ(LoadPackage(path, *package_).Outcome, PackageLoadOutcome::Loaded);
    }

    void StartDevice(DeviceOptions options = {}, speed_t speed = B115200) {
        if (std::getenv("DEVSIM_TEST_LOG"))
            options.Log = [](const std::string& line) { std::cerr << "devsim: " << line << "\n"; };
        if (options.ImagePath.empty()) options.ImagePath = dir_.File("image.bin");
        PtyPair pty;
        std::string error;
        ASSERT_TRUE(OpenPseudoTerminal(pty, error)) << error;
        device_ = std::make_unique<VirtualDevice>(options);
        ASSERT_TRUE(device_->Start(pty.Master));
        ASSERT_TRUE(tool_.Open(pty.SlavePath, speed));
    }

    std::vector<uint8_t> Frame(uint16_t index) const {
        DataFrameSource source;
        source.kind = package_->Kind();
        source.blockCount = package_->BlockCount();
        source.blockSize = package_->BlockSize();
        source.blockData = package_->BlockData;
        source.blockDataSize = kPackageBlockDataSize;
        source.endParam1 = package_->EndParam1();
        source.endParam2 = package_->EndParam2();
        std::vector<uint8_t> frame(DataFrameBufferSize);
        frame.resize(size_t(BuildDataFrame(source, index, frame.data(), int32_t(frame.size()))));
        return frame;
    }

    // The next index a reply names, or WrongReply / -1 (no reply recognised).
    int Judge(const std::vector<uint8_t>& reply) const {
        const RecognisedReply r = RecogniseReply(reply.data(), int32_t(reply.size()));
        if (r.kind != ReplyClass::DataReply) return -1;
        return JudgeDataReply(reply.data(), package_->Kind());
    }

    int SendBlock(uint16_t index) {
        tool_.Send(Frame(index));
        return Judge(tool_.Receive());
    }

    void ResetIntoLoader() {
        tool_.Send("AT+RESET\r");
        ASSERT_EQ(Text(tool_.Receive()), "\r\nOK\r\n");
        tool_.Send(kPing);
        ASSERT_EQ(tool_.Receive(), kPingReply);
    }

    // Plays the transfer loop of the upgrade: block 0, then whatever the device names, until
    // it reports completion or a reply is not usable. Returns the indexes named.
    std::vector<int> Transfer(int maxFrames = 50) {
        std::vector<int> asked;
        int index = 0;
        for (int frames = 0; frames < maxFrames; ++frames) {
            const int next = SendBlock(uint16_t(index));
            asked.push_back(next);
            if (next < 0 || next > package_->BlockCount()) break;
            index = next;
        }
        return asked;
    }

    std::vector<uint8_t> BlockArea() const {
        return {package_->BlockData,
                package_->BlockData + size_t(package_->BlockSize()) * package_->BlockCount()};
    }

    std::vector<uint8_t> ReadFile(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TempDir dir_;
    std::unique_ptr<FirmwarePackageData> package_;
    std::unique_ptr<VirtualDevice> device_;
    ToolSide tool_;
};

} // namespace devsim::test
