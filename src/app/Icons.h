#pragma once

#include <QIcon>
#include <QString>

// The toolbar pictures, drawn by the program itself so that they form one set: "home",
// "next", "prev", "close", "pause", "play", "export", "wechat". An unknown name gives a
// null icon.
QIcon ilMainIcon(const QString& name);
