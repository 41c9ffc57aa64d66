// CHyperLink: a static text that looks and acts like a web link; a click opens its target.
//
// The link keeps what a desktop front end needs to draw it (colours as values, visited and
// hover states, underline, the hand cursor) and does the rest itself: the click (STN_CLICKED,
// `ID` in the console) opens the target with the shell, falling back on the command registered
// for ".htm"; success marks the link visited, failure beeps and says why:
//
//   link_.SetLinkTarget(L"https://example.com");   // after DDX_Control(dx, 1018, link_)
//
// Same thread rules as CWnd.
#pragma once

#include <string>

#include "platform/dialog/afxcmn.h"
#include "platform/dialog/afxwin.h"

/// The pointing-hand cursor (IDC_HAND's value), the link's cursor unless another one is set.
inline const HCURSOR kHandCursor = reinterpret_cast<HCURSOR>(static_cast<ULONG_PTR>(32649));

class CHyperLink : public CStatic {
 public:
  CHyperLink();
  ~CHyperLink() override;

  /// Stores the target; when the window exists, refits it to its text and updates the
  /// tooltip (tool id 1).
  void SetLinkTarget(LPCWSTR target);
  const std::wstring& GetLinkTarget() const { return target_; }
  /// Colours of the link, of a visited link, and under the pointer (hover (COLORREF)-1: the
  /// system highlight colour). Repaints when the window exists.
  void SetLinkColors(COLORREF link, COLORREF visited, COLORREF hover = static_cast<COLORREF>(-1));
  COLORREF GetLinkColor() const { return link_colour_; }
  COLORREF GetVisitedColor() const { return visited_colour_; }
  COLORREF GetHoverColor() const { return hover_colour_; }
  void SetVisitedState(bool visited);
  bool GetVisitedState() const { return visited_; }
  void SetUnderlined(bool underline);
  bool GetUnderlined() const { return underline_; }
  void SetFitToText(bool fit);
  bool GetFitToText() const { return fit_to_text_; }
  /// Null: the default hand cursor.
  void SetHoverCursor(HCURSOR cursor);
  HCURSOR GetHoverCursor() const { return cursor_; }
  /// The text colour to draw now: hover while the pointer is over the link, else visited or
  /// link colour.
  COLORREF TextColor() const;
  bool PointerOver() const { return over_; }

  /// Opens `target` with the shell (verb "open"); when that fails, runs the command registered
  /// for ".htm" under HKEY_CLASSES_ROOT with the target in place of its "%1" through WinExec.
  /// Returns the result: greater than 32 is success; else the shell's error (SE_ERR_...) when
  /// no command is registered, or WinExec's.
  static int OpenLink(LPCWSTR target, int show);
  /// The explanation of a failed result, as the link shows it after "Unable to open
  /// hyperlink:\n\n".
  static std::wstring ErrorText(int result);
  /// What the link calls to beep on failure (MessageBeep by default); returns the previous one.
  using BeepFunction = BOOL (*)(UINT);
  static BeepFunction SetBeepFunction(BeepFunction beep);

  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 protected:
  /// The reflected STN_CLICKED: opens the link.
  BOOL OnChildNotify(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;

 private:
  void FitToText();
  void Repaint();

  COLORREF link_colour_ = 0x00EE0000;
  COLORREF visited_colour_ = 0x008B1A55;
  COLORREF hover_colour_;
  bool over_ = false;
  bool visited_ = false;
  bool underline_ = true;
  bool fit_to_text_ = true;
  std::wstring target_;
  HCURSOR cursor_ = nullptr;
  CToolTipCtrl tooltip_;
};
