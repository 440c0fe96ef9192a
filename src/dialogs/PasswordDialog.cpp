#include "PasswordDialog.h"

#include "IniDocument.h"
#include "Log.h"

namespace kiv {

namespace {
// The comparison text of a show that asks for a password without setting one: nobody types it.
constexpr const char16_t* kNoPassword = u"mtkq82rbnvzxpwcye37Lhdd";
} // namespace

TKivPasswordDialog::TKivPasswordDialog(const TIniFile& project)
    : TDialog(project.ReadString(u"main", u"opt_lng_password_caption", u"Password required"), 260, 98) {
  Add<TDialogStatic>(TDialogRect{12, 12, 244, 16}, project.ReadString(u"main", u"opt_lng_password_label", u"Enter password:"));
  edit_ = &Add<TDialogEdit>(TDialogRect{12, 32, 236, 21}, true);
  Add<TDialogButton>(TDialogRect{52, 62, 75, 25}, project.ReadString(u"main", u"opt_lng_button_ok", u"OK"), kOk, 0, true);
  Add<TDialogButton>(TDialogRect{133, 62, 75, 25}, project.ReadString(u"main", u"opt_lng_button_cancel", u"Cancel"),
                     kCancelled);
  SetFocus(*edit_);
}

bool CheckPassword(TDialogRunner& runner, const TIniFile& project) {
  try {
    if (!project.ReadBool(u"main", u"opt_usepass", false)) return true;
    TKivPasswordDialog dialog(project);
    if (runner.Run(dialog) != TKivPasswordDialog::kOk) return false;
    const TIniSection* main = project.FindSection(u"main");
    const std::u16string wanted = main && main->FindIdent(u"opt_pass") ? main->ReadString(u"opt_pass", u"")
                                                                       : std::u16string(kNoPassword);
    return dialog.Edit().Text() == wanted;
  } catch (const std::exception& error) {
    LogLine(std::string("CheckPassword: ") + error.what());
    return false;
  }
}

} // namespace kiv
