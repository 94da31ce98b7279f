#pragma once
// A dialogue on fake seams for one test, with shorthands for the device's usual answers.

#include "tests/support/dialogue/FakeDialogue.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane::test {

using Kind = DeviceMessage::Kind;

class SeamTest : public ::testing::Test {
  protected:
    // Text exchange with a request of its own buffer, as the commands use it.
    int Text(const std::string& request, std::string& reply) {
        char buffer[ReplyBufferSize] = {};
        request.copy(buffer, sizeof buffer - 1);
        const int result = D.Talk.TextExchange(buffer, buffer);
        reply = buffer;
        return result;
    }
    // Starts the dialogue as a version query or a run does.
    void Start() { D.Talk.DialogueStopped = false; }

    FakeDialogue D;
};

} // namespace tolvane::test
