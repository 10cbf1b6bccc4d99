// What the end-to-end tests share with their main: the message boxes the window showed.
#pragma once

#include "Commands.h"

#include <string>
#include <vector>

namespace korvan::e2e {

struct ShownMessage {
    MessageKind kind;
    std::string text;
};

std::vector<ShownMessage>& ShownMessages();

} // namespace korvan::e2e
