// What the window tests share: the message boxes the windows showed, answered OK.
#pragma once

#include "Commands.h"

#include <string>
#include <vector>

namespace korvan::testing {

struct ShownMessage {
    MessageKind kind;
    std::string text;
};

std::vector<ShownMessage>& ShownMessages();

} // namespace korvan::testing
