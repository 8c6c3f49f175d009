#include "app/win32/dialog_template.h"

namespace vok::win32 {

namespace {

using layout::Kind;

// The predefined control classes of a dialog template.
constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082,
               kListBoxAtom = 0x0083;

}  // namespace

void DialogTemplate::DWord(DWORD d) {
  Word(LOWORD(d));
  Word(HIWORD(d));
}

void DialogTemplate::Text(const char* text) {
  // The table's texts are bytes; each becomes the character of its number.
  for (const char* p = text; *p != '\0'; ++p) Word(static_cast<unsigned char>(*p));
  Word(0);
}

void DialogTemplate::AlignToDWord() {
  if (words_.size() % 2 != 0) Word(0);
}

DWORD DialogTemplate::StyleOf(const layout::Control& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (c.Has(layout::kTabStop)) style |= WS_TABSTOP;
  if (c.Has(layout::kGroup)) style |= WS_GROUP;
  if (c.Has(layout::kVScroll)) style |= WS_VSCROLL;
  switch (c.kind) {
    case Kind::PushButton: return style | (c.Has(layout::kDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case Kind::RadioButton: return style | BS_AUTORADIOBUTTON;
    case Kind::GroupBox: return style | BS_GROUPBOX;
    // The system's texts may hold '&', which is no mnemonic there.
    case Kind::Label: return style | SS_NOPREFIX | (c.Has(layout::kCentre) ? SS_CENTER : SS_LEFT);
    case Kind::Edit:
      if (c.Has(layout::kMultiLine)) style |= ES_MULTILINE;
      if (c.Has(layout::kReadOnly)) style |= ES_READONLY;
      if (c.Has(layout::kAutoHScroll)) style |= ES_AUTOHSCROLL;
      return style | ES_LEFT;
    case Kind::ListBox: return style | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
    case Kind::Icon: return style | SS_ICON;
    case Kind::ProgressBar: return style;
  }
  return style;
}

DWORD DialogTemplate::ExStyleOf(const layout::Control& c) {
  return c.Has(layout::kBorder) ? WS_EX_CLIENTEDGE : 0;
}

DialogTemplate::DialogTemplate(const layout::Window& table) {
  DWORD style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK;
  if (table.close_box) style |= WS_SYSMENU;
  DWord(style);
  DWord(0);
  Word(static_cast<WORD>(table.controls.size()));
  Word(0);  // placed by CentreOnScreen when it opens
  Word(0);
  Word(static_cast<WORD>(table.width));
  Word(static_cast<WORD>(table.height));
  Word(0);  // no menu
  Word(0);  // the dialog class
  Text(table.caption);
  Word(static_cast<WORD>(table.font.points));
  Text(table.font.face);

  for (const layout::Control& c : table.controls) {
    AlignToDWord();
    DWord(StyleOf(c));
    DWord(ExStyleOf(c));
    Word(static_cast<WORD>(c.rect.x));
    Word(static_cast<WORD>(c.rect.y));
    Word(static_cast<WORD>(c.rect.width));
    Word(static_cast<WORD>(c.rect.height));
    Word(static_cast<WORD>(c.id));  // kNoId becomes 0xFFFF, the unaddressed id
    switch (c.kind) {
      case Kind::PushButton:
      case Kind::RadioButton:
      case Kind::GroupBox:
        Word(0xFFFF);
        Word(kButtonAtom);
        break;
      case Kind::Label:
      case Kind::Icon:
        Word(0xFFFF);
        Word(kStaticAtom);
        break;
      case Kind::Edit:
        Word(0xFFFF);
        Word(kEditAtom);
        break;
      case Kind::ListBox:
        Word(0xFFFF);
        Word(kListBoxAtom);
        break;
      case Kind::ProgressBar:
        Text(kProgressBarClass);
        break;
    }
    if (c.kind == Kind::Icon) {
      Word(0xFFFF);
      Word(kAppIconResource);
    } else {
      Text(c.text);
    }
    Word(0);  // no creation data
  }
}

}  // namespace vok::win32
