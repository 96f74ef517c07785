#pragma once
// The dialog unit: messages in the program's own dialog style (the standard
// message dialog with bitmap buttons), modal or non-modal, and the boxes the
// program uses (ErrorBox, InfoBox, InfoBoxFmt).
//
// A non-modal dialog stays on top and runs a local event loop until one of
// its buttons closes it: the calling handler waits, while the program's other
// windows stay usable. No dialog raises: any failure while building or
// showing one falls back to a plain critical message box.
//
// Tests answer dialogs through SetDialogHooks instead of showing them.
// User-interface thread only.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

class QDialog;

namespace vantor {

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };

// In this order; the same order numbers the default-button argument.
enum class TMsgDlgBtn { Yes, No, OK, Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll, Help };

// A set of buttons.
class TMsgDlgButtons {
 public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) FBits |= Bit(b);
  }
  constexpr bool Has(TMsgDlgBtn b) const { return (FBits & Bit(b)) != 0; }
  constexpr void Add(TMsgDlgBtn b) { FBits |= Bit(b); }
  constexpr bool Empty() const { return FBits == 0; }

 private:
  static constexpr std::uint16_t Bit(TMsgDlgBtn b) { return static_cast<std::uint16_t>(1u << static_cast<int>(b)); }
  std::uint16_t FBits = 0;
};

// Modal results: none 0, OK 1, Cancel 2, Abort 3, Retry 4, Ignore 5, Yes 6,
// No 7, All 8, No to all 9, Yes to all 10.
int ButtonModalResult(TMsgDlgBtn button);

// Shows a message dialog and answers its modal result (or the fallback box's
// result: 1 for OK). A help context other than 0 adds the Help button. The
// message-box flags only reach the fallback box.
std::uint16_t ShowMessageDialog(std::string_view message, std::string_view caption, TMsgDlgType type,
                                TMsgDlgButtons buttons, int helpContext, std::uint32_t messageBoxFlags,
                                bool hasDefault, TMsgDlgBtn defaultButton, bool modal);

// Caption "Error", error icon, one OK button, no default button.
std::uint16_t ErrorBox(std::string_view message, int helpContext = 0, bool modal = true);
// Caption "Information", information icon, one OK button.
std::uint16_t InfoBox(std::string_view message, int helpContext = 0, bool modal = true);
// InfoBox of the formatted text: "%d" and "%s" take the next argument, "%%"
// is a percent sign.
using TFormatArg = std::variant<long long, std::string>;
std::uint16_t InfoBoxFmt(std::string_view format, std::initializer_list<TFormatArg> args, int helpContext = 0,
                         bool modal = true);
std::string FormatText(std::string_view format, std::initializer_list<TFormatArg> args);

// The program-wide dialog-closed flag of non-modal dialogs.
bool DialogClosed();

// Test hooks. OnShow sees every built dialog just before it would be shown
// and may answer it (the answer is the modal result) or throw (which takes the
// fallback path); nullopt shows it as usual. OnFallback replaces the fallback
// box and answers its result.
struct TDialogHooks {
  std::function<std::optional<int>(QDialog& form)> OnShow;
  std::function<int(const std::string& message, const std::string& caption, std::uint32_t flags)> OnFallback;
};
TDialogHooks SetDialogHooks(TDialogHooks hooks);

}  // namespace vantor
