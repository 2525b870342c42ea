// What the user can do with a result line and with the "About" menu. Every result action
// takes the selected row's hit (path, 0-based line index, text as shown) and does nothing
// when there is none (std::nullopt: no row selected).
//
// The main window's handlers (app/VornUnit1.cpp) call one function each:
// - ListBox1DblClick, FindFile1Click: ShowFile(SelectedHit())
// - ListBox1KeyDown: ShowFile(SelectedHit()) when IsEnterKey(key)
// - ComboBox2KeyDown: Do_the_search() when IsEnterKey(key)
// - OpenContainingFolder1Click: OpenContainingFolder(SelectedHit())
// - SearchInternetforItem1Click: SearchInternetNarrow(SelectedHit())
// - SearchInternetforItem2Click: SearchInternetWide(SelectedHit())
// - QuilloWare1Click: OpenMakerHomePage()
// - AboutVorn11Click, URLLabel2Click: ShowAboutWindow()
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SearchHit.h"

namespace vorn {

// Hands the hit to the viewer (Form2->ShowResultInViewer).
void ShowFile(const std::optional<SearchHit>& hit);

// Enter or Return (the key alone decides: Shift, Ctrl and Alt may be held). In the result list
// it shows the file; in the query and Directory fields it starts the search.
bool IsEnterKey(int key);

// Starts the file manager on the folder that holds the hit's file: xdg-open FOLDER.
void OpenContainingFolder(const std::optional<SearchHit>& hit);

// Opens the web search for the words of the hit's text in the browser.
void SearchInternetNarrow(const std::optional<SearchHit>& hit);
void SearchInternetWide(const std::optional<SearchHit>& hit);

// Opens the maker's home page in the browser.
void OpenMakerHomePage();

// Opens the hit's file in the user's text editor (TextEditor.h) at its line and the first
// match's column, both 1-based.
void OpenInEditor(const std::optional<SearchHit>& hit);

// Puts the result lines on the clipboard, one per line.
void CopyResultLines(const std::string& lines);

// An action that cannot start (no xdg-open, no editor, no browser) throws, and the handler's
// guard shows the message in the error box: "Could not start PROGRAM to WHAT: REASON".
void StartOrThrow(const std::vector<std::string>& arguments, const std::string& what);

// Sets the About window's StaticText2 to " Tessaly " and shows the window modally.
void ShowAboutWindow();

// The pieces, for the actions above and their tests.

// Everything of path up to and including its last "/"; a relative folder is made absolute
// against the current directory, so it can never be read as an option.
std::string ContainingFolder(std::string_view path);

// Every byte that is not an unreserved URL character (A-Z a-z 0-9 - . _ ~) as %HH.
std::string PercentEncode(std::string_view bytes);

// "http://" VORN_SEARCH_HOST "/search?q=" and the query: narrow takes every word of two or
// more bytes joined by a blank; wide the first three words of four or more bytes, each
// after " +". Tabs and semicolons split words like blanks.
std::string NarrowSearchAddress(std::string_view text);
std::string WideSearchAddress(std::string_view text);

// "Http://" VORN_MAKER_HOST "/quillo/".
std::string MakerHomePage();

}  // namespace vorn
