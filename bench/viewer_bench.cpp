// Times the viewer's hand-off on a large plain-text file with the hit near its end, until the
// red mark is set and until the rest of the file has come into the text box, against
// QPlainTextEdit::setPlainText of the same (already decoded) text.
// Then opens crafted 1 MB RTF files (thousands of sizes, of font families, deep nesting) and
// compares each with setPlainText of the text it shows. Last, how interactive the shown
// viewer stays on a 5 MB file of one line and on a file of ordinary lines just under the
// viewer's size ceiling: the opening, each typed key, caret step and scroll step (each with
// the repaint it causes), and Escape; the limits are 1 s to open and 50 ms a step.
//   vorn_viewer_bench [megabytes=20] [runs=5] [interactive=1]
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ScrollBarStyle.h"
#include "vornUnit2.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The floor: a bare plain-text widget given the same text (and, with paint, painting it).
double PlainTextMs(const QString& text, bool paint) {
  QPlainTextEdit edit;
  edit.setLineWrapMode(QPlainTextEdit::NoWrap);
  edit.resize(760, 400);
  edit.show();
  QElapsedTimer t;
  t.start();
  edit.setPlainText(text);
  if (paint) edit.repaint();
  return t.nsecsElapsed() / 1e6;
}

// One key press and release to the widget with the focus, and the repaint it causes.
void Key(QWidget* to, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(to, &press);
  QApplication::sendEvent(to, &release);
}

struct Steps {
  std::vector<double> ms;
  double Max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// Times each step and the repaint after it.
template <class Step>
Steps Time(vorn::TForm2& form, int count, Step step) {
  Steps s;
  for (int i = 0; i < count; ++i) {
    QElapsedTimer t;
    t.start();
    step();
    form.repaint();
    QApplication::processEvents();
    s.ms.push_back(t.nsecsElapsed() / 1e6);
  }
  return s;
}

// Opens the file in a shown viewer and times what a person does there. True when every
// limit holds.
bool Interactive(const char* name, const std::string& path, size_t line, const char* text) {
  vorn::TForm2 form;
  form.resize(760, 463);
  form.show();
  QApplication::processEvents();
  QElapsedTimer t;
  t.start();
  form.ShowResultInViewer({path, line, text});
  form.repaint();
  const double open = t.nsecsElapsed() / 1e6;
  QApplication::processEvents();
  QPlainTextEdit* box = form.RichEdit1;
  const int caretBefore = box->textCursor().position();
  form.ShowLinePosition();
  const QString lineBefore = form.StatusPanelText(1);
  const Steps typed = Time(form, 20, [&] { Key(box, Qt::Key_A, QStringLiteral("a")); });
  const Steps caret = Time(form, 20, [&] { Key(box, Qt::Key_Right); });
  const Steps down = Time(form, 20, [&] { Key(box, Qt::Key_Down); });
  const Steps scroll = Time(form, 20, [&] {
    box->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  });
  const Steps sideways = Time(form, 20, [&] {
    box->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  });
  const Steps readout = Time(form, 5, [&] { form.Timer1Timer(); });
  t.start();
  Key(box, Qt::Key_Escape);
  QApplication::processEvents();
  const double escape = t.nsecsElapsed() / 1e6;
  const double worst = std::max(
      {typed.Max(), caret.Max(), down.Max(), scroll.Max(), sideways.Max(), readout.Max(), escape});
  const bool ok = open <= 1000 && worst <= 50;
  std::printf(
      "%s: open %.1f ms (caret at %d, %s); worst step ms: key %.1f, caret right %.1f, "
      "caret down %.1f, scroll %.1f, scroll sideways %.1f, readout %.1f, Escape %.1f%s\n",
      name, open, caretBefore, qPrintable(lineBefore), typed.Max(), caret.Max(), down.Max(),
      scroll.Max(), sideways.Max(), readout.Max(), escape, ok ? "" : "  (OVER THE LIMIT)");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  vorn::ScrollBarStyle::Install();  // as the program does
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  // An empty file has no line for the hit: such a run would never end.
  if (megabytes == 0 || megabytes > 4096) {
    std::fprintf(stderr, "usage: vorn_viewer_bench [MB (1 to 4096)] [RUNS] [INTERACTIVE]\n");
    return 2;
  }
  const bool interactive = argc > 3 ? std::atoi(argv[3]) != 0 : true;

  // Lines of varied length and words; the hit sits 50 lines before the end.
  const size_t target = megabytes << 20;
  std::string text;
  text.reserve(target + 200);
  const char* words[] = {"lorem",      "ipsum", "dolor",  "sit", "amet",    "consectetur",
                         "adipiscing", "elit",  "sed",    "do",  "eiusmod", "tempor",
                         "incididunt", "ut",    "labore", "et"};
  size_t lines = 0;
  unsigned seed = 12345;
  while (text.size() < target) {
    const int n = 4 + static_cast<int>((seed = seed * 1103515245u + 12345u) >> 16) % 14;
    for (int w = 0; w < n; ++w) {
      text += words[((seed = seed * 1103515245u + 12345u) >> 16) % 16];
      text += ' ';
    }
    text += "line " + std::to_string(lines++) + "\n";
  }
  const size_t hitLine = lines - 50;
  {
    size_t pos = 0;
    for (size_t l = 0; l < hitLine; ++l) pos = text.find('\n', pos) + 1;
    text.insert(pos, "the Needle In The Haystack ");
  }
  char path[] = "/tmp/vorn-viewer-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 1;
  close(fd);
  std::ofstream(path, std::ios::binary) << text;

  std::vector<double> viewer, whole, floor;
  bool marked = true;
  for (int run = 0; run < runs; ++run) {
    {
      vorn::TForm2 form;
      QElapsedTimer t;
      t.start();
      form.ShowResultInViewer({path, hitLine, "THE NEEDLE IN THE HAYSTACK"});
      viewer.push_back(t.nsecsElapsed() / 1e6);
      // A large file's rest comes in slices after the hand-off; the check needs it all.
      form.LoadRest();
      whole.push_back(t.nsecsElapsed() / 1e6);
      const QTextCursor caret = form.RichEdit1->textCursor();
      QTextCursor probe(caret);
      probe.setPosition(caret.position() + 1);
      const QString shown = form.RichEdit1->document()->toPlainText();
      marked = marked &&
               shown.left(caret.position()).count(QLatin1Char('\n')) ==
                   static_cast<qsizetype>(hitLine) &&
               probe.charFormat().foreground().color() == QColor(Qt::red);
    }
    {
      const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
      floor.push_back(PlainTextMs(decoded, false));
    }
  }
  const double v = Median(viewer), f = Median(floor);
  std::printf("file: %zu MB, %zu lines, hit on line %zu, %d runs (medians)\n", megabytes, lines,
              hitLine, runs);
  std::printf("viewer hand-off until marked:      %8.1f ms%s\n", v,
              marked ? "" : "  (MARK MISSING)");
  std::printf("viewer until the rest is loaded:   %8.1f ms\n", Median(whole));
  std::printf("QPlainTextEdit::setPlainText floor: %8.1f ms\n", f);
  std::printf("ratio viewer / floor:              %8.2f\n", v / f);

  // Crafted rich text: the hand-off and the first paint, against the plain text it shows.
  struct Crafted {
    const char* name;
    std::string rtf;
  } crafted[] = {{"20,000 font sizes", "{\\rtf1 "},
                 {"10,000 font families", "{\\rtf1{\\fonttbl"},
                 {"5,000,000 nested groups", "{\\rtf1 "}};
  for (int f = 0; f < 10000; ++f)
    crafted[1].rtf += "{\\f" + std::to_string(f) + " Family" + std::to_string(f) + ";}";
  crafted[1].rtf += "}";
  for (int i = 0; crafted[0].rtf.size() < (1u << 20); ++i)
    crafted[0].rtf += "\\fs" + std::to_string(2 + i % 20000) + " x" + (i % 100 ? "" : "\\par ");
  for (int i = 0; crafted[1].rtf.size() < (1u << 20); ++i)
    crafted[1].rtf += "\\f" + std::to_string(i % 10000) + " x" + (i % 100 ? "" : "\\par ");
  crafted[2].rtf += std::string(5'000'000, '{') + "deep" + std::string(5'000'000, '}');
  std::ofstream(path, std::ios::binary);
  for (Crafted& c : crafted) {
    c.rtf += "}";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.rtf;
    std::vector<double> open, plain;
    for (int run = 0; run < runs; ++run) {
      QString shown;
      {
        vorn::TForm2 form;
        QElapsedTimer t;
        t.start();
        form.ShowResultInViewer({path, 0, "x"});
        form.repaint();
        open.push_back(t.nsecsElapsed() / 1e6);
        shown = form.RichEdit1->document()->toPlainText();
      }
      plain.push_back(PlainTextMs(shown, true));
    }
    const double o = Median(open), p = Median(plain);
    std::printf("RTF, %-24s %5zu kB: %8.1f ms, plain text shown %6.1f ms, ratio %6.1f\n", c.name,
                c.rtf.size() >> 10, o, p, o / p);
  }
  bool fast = true;
  if (interactive) {
    // Minified script: one 5 MB line, the hit near its end.
    std::string script;
    for (int i = 0; script.size() < (5u << 20); ++i)
      script += "var v" + std::to_string(i) + "={a:" + std::to_string(i % 977) + ",b:\"x\"};";
    script += "theNeedle();";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << script;
    fast = Interactive("5 MB single line", path, 0, "THENEEDLE") && fast;
    // Ordinary lines up to just under the ceiling, the hit 50 lines before the end.
    std::string lines;
    lines.reserve(vorn::kViewerFileLimit);
    size_t count = 0;
    for (; lines.size() + 200 < vorn::kViewerFileLimit; ++count)
      lines += "ordinary line " + std::to_string(count) + " of words, some numbers " +
               std::to_string(count * 7919 % 100003) + " and an end\n";
    const size_t hit = count - 50;
    size_t at = 0;
    for (size_t l = 0; l < hit; ++l) at = lines.find('\n', at) + 1;
    lines.insert(at, "the Needle ");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << lines;
    lines = {};
    fast = Interactive("256 MB ceiling, ordinary lines", path, hit, "THE NEEDLE") && fast;
  }
  unlink(path);
  return marked && fast ? 0 : 1;
}
