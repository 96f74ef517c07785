#pragma once
// The way from the component layer to the password dialog.
//
// When the engine needs a table password that the session's list lacks and
// the session has no OnPassword handler, the session shows the password
// dialog through this hook. The dialog is a Qt window, which the component
// layer does not know: widgets/ (or the application) installs the hook at
// start-up. Without a hook there is nobody to ask, and the request is
// declined.
//
// Threads: the hook is installed and read under its own mutex; it is called
// on the thread that opens the table (the user-interface thread for a dialog).

#include <functional>

namespace dbcomp {

class TTarnSession;

// Shows the password dialog modally for session; true when it was closed
// with OK (the session's list may then hold new passwords).
using TPasswordHook = std::function<bool(TTarnSession& session)>;

// Installs hook (an empty one removes it) and answers the previous one.
TPasswordHook SetPasswordHook(TPasswordHook hook);

// Calls the installed hook; false when none is installed. Whatever the hook
// raises passes through.
bool CallPasswordHook(TTarnSession& session);

}  // namespace dbcomp
