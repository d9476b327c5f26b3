#pragma once

#include <QString>

#include <array>
#include <vector>

// One rule of the chat page's style sheet: its selector and its declarations in order.
struct ChatStyleRule
{
    const char* selector;
    std::vector<const char*> declarations;
};

// The 31 layout rules, in page order.
const std::array<ChatStyleRule, 31>& chatStyleRules();

// The whole style element: "<style>", the layout rules, the emoji sprite rules, "</style>".
// Built once; every page starts with it.
const QString& chatStyleBlock();
