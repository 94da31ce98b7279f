#pragma once
// Data frames and command frames to the device's loader, each sent and awaited once.
// Results: -1 no valid package (nothing sent), -2 stopped, -3 timed out, -4 not the right
// reply; otherwise the next index of a data reply, or 1 for an accepted command.

#include "dialogue/FrameCodec.h"
#include "package/FirmwarePackage.h"

#include <cstdint>

// The fields of a package a data frame is built from.
DataFrameSource FrameSourceOf(const FirmwarePackageData& package);

int SendDataFrame(uint16_t index);
// payload may be null when the low 8 bits of length are 0.
int SendCommandFrame(uint8_t code, const uint8_t* payload, int length);
