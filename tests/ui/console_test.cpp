#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "runtime/Exception.h"
#include "ui/ConsoleApplication.h"

namespace {

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

struct ConsoleFixture : testing::Test {
  // Closed after the application, which may still end a line on them.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> outFile{std::tmpfile(), &std::fclose};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> errFile{std::tmpfile(), &std::fclose};
  std::FILE* out = outFile.get();
  std::FILE* err = errFile.get();
  ui::ConsoleApplication app{out, err, false};
  // The main window's form, with the label that describes the progress.
  ui::Form* form = app.CreateForm({"F", "Lirenta", 418, 89});
  ui::Label* current = form->AddLabel({.name = "lblAtual",
                                       .bounds = {8, 8, 77, 13},
                                       .caption = "Registro atual: 0",
                                       .describesProgress = true});
};

TEST_F(ConsoleFixture, MessageBoxesAreUtf8LinesOnStandardOutput) {
  app.SetTitle("Lirenta");
  app.ShowMessage(
      "Atualiza\xE7\xE3o conclu\xED"
      "da.");
  app.HandleEvent([] { throw Exception("Socket Error # 10061\r\nConnection refused"); });
  app.HandleEvent([] { throw EAbort(); });
  EXPECT_EQ(Contents(out),
            "Atualiza\xC3\xA7\xC3\xA3o conclu\xC3\xAD"
            "da.\n"
            "Socket Error # 10061\nConnection refused.\n");
  ASSERT_EQ(app.Messages().size(), 1u);
  EXPECT_EQ(Contents(err), "");
}

TEST_F(ConsoleFixture, PlainProgressPrintsALineEveryFivePercent) {
  ui::Label* total =
      form->AddLabel({"lblTotal", {375, 8, 36, 13}, "Total: 0", ui::Alignment::Right});
  ui::ProgressBar* bar = form->AddProgressBar({"ProgressBar1", {8, 32, 401, 17}});
  total->SetCaption("Total: 200");
  bar->SetMax(200);
  for (int i = 1; i <= 200; ++i) {
    current->SetCaption("Registro atual: " + std::to_string(i));
    bar->SetPosition(i);
  }
  std::string text = Contents(err);
  EXPECT_EQ(text.rfind("Total: 200\n", 0), 0u);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 1 + 21);  // the total, the first row (0%), then 5%, 10%, ... 100%
  EXPECT_NE(text.find("Registro atual: 10 of 200 (5%)\n"), std::string::npos);
  EXPECT_NE(text.find("Registro atual: 200 of 200 (100%)\n"), std::string::npos);
  EXPECT_EQ(Contents(out), "");
}

TEST_F(ConsoleFixture, AWaitShowsTheProgressTextAndNeverEndsBeforeItsTime) {
  current->SetCaption("aguardando o site: nova tentativa em 1 s (Connection refused)");
  // The shortest waits are where a rounding down would end them at once.
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    app.Wait(std::chrono::milliseconds(1));
    ASSERT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1)) << i;
  }
  EXPECT_EQ(
      Contents(err).rfind("aguardando o site: nova tentativa em 1 s (Connection refused)\n", 0),
      0u);
}

TEST(ConsoleProgressLine, ShowsCountTotalRateAndTimeLeft) {
  EXPECT_EQ(ui::FormatProgressLine(50, 100, 10.0, 10), "[#####-----] 50/100  5.0/s  left 0:10");
  EXPECT_EQ(ui::FormatProgressLine(0, 100, 0.0, 4), "[----] 0/100  0.0/s  left --:--");
  EXPECT_EQ(ui::FormatProgressLine(0, 0, 1.0, 4), "[####] 0/0  0.0/s  left --:--");
  EXPECT_EQ(ui::FormatProgressLine(1, 7201, 1.0, 4), "[----] 1/7201  1.0/s  left 2:00:00");
}

}  // namespace
