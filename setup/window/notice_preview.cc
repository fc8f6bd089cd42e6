/*
 * notice_preview.cc - the Registration group: the consent box for the
 * voluntary installation notice and a preview of the notice's lines.
 *
 * The preview is made once at start-up, while the installation switch
 * still shows User, so its version line carries "u"; it is not redone when
 * the switch changes.
 */
#include "notice_preview.h"

namespace {

constexpr Nlm_Int2 kRegistrationRows = 10;  // one column of up to 10 rows
constexpr Nlm_Int2 kPreviewRows = 20;       // one column of up to 20 lines
constexpr char kFullMark = 'm';
constexpr char kUserMark = 'u';

}  // namespace

void MakeNoticePreview(SetupControls &c, NoticePreviewCommand &command, Nlm_WindoW window,
                       Nlm_Int2 h, Nlm_Int2 v) {
  const auto kind = static_cast<Nlm_GrouP>(c.of(Field::kKind));
  const char mark = Nlm_GetValue(kind) == kFullValue ? kFullMark : kUserMark;
  const auto lines = command.finish(mark);
  if (!lines) return;
  Nlm_GrouP &gReg = c.group[static_cast<std::size_t>(FormGroup::kRegistration)];
  gReg = Nlm_NormalGroup(window, 0, kRegistrationRows,
                         Title(GroupOf(FormGroup::kRegistration).title), nullptr, nullptr);
  Nlm_SetGroupMargins(gReg, h, v);
  Nlm_SetGroupSpacing(gReg, h, v);
  Nlm_ButtoN bReg = Nlm_CheckBox(gReg, Title(kNoticeConsentLabel), nullptr);
  Nlm_SetStatus(bReg, FALSE);
  c.field[static_cast<std::size_t>(Field::kNotify)] = bReg;

  Nlm_GrouP preview = Nlm_HiddenGroup(gReg, 0, kPreviewRows, nullptr);
  Nlm_SetGroupMargins(preview, static_cast<Nlm_Int2>(2 * h), 0);
  Nlm_SetGroupSpacing(preview, 0, 0);
  for (const std::string &line : *lines)
    Nlm_StaticPrompt(preview, Title(line.c_str()), 0, 0, Nlm_systemFont, 'l');
  Nlm_StaticPrompt(gReg, Title(kNoticeNote), 0, 0, nullptr, 'l');
}
