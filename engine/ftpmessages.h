#pragma once

#include <QString>

// The line under an FTP message's code: what happened and what to do, in the user's words.
namespace ftpmessage {

// Where the call stopped; each has its own first line ("InternetConnect:GetLastError=" and so on).
enum class Stage { Runtime, Session, Connect, Put, Get };

// One line for the code; `reply` is the server's last reply code, `asksTls` whether its text asked
// for TLS (both matter for a refused log-in only).
QString explain(Stage stage, int code, int reply = 0, bool asksTls = false);

} // namespace ftpmessage
