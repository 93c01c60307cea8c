#pragma once
// The messages the Qt-free routines return (the stripper's, the signature check's) as the window
// shows them: in the user's language when the catalogue has them, otherwise unchanged.
#include <QString>
#include <string>

QString DisplayedMessage(const std::string& Text);
