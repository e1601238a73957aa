#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "tests/support/RecordingApplication.h"

namespace {

TEST(RightAlignedLabel, GrowsToTheLeftKeepingItsRightEdge) {
  test::RecordingApplication app;
  ui::Form* form = app.CreateForm({"F", "F", 418, 89});
  ui::Label* label =
      form->AddLabel({"lblTotal", {375, 8, 36, 13}, "Total: 0", ui::Alignment::Right});
  int previousLeft = label->GetBounds().left;
  for (const char* text : {"Total: 10", "Total: 1000", "Total: 1000000"}) {
    label->SetCaption(text);
    ui::Bounds b = label->GetBounds();
    EXPECT_EQ(b.right(), 411) << text;
    EXPECT_LT(b.left, previousLeft) << text;
    previousLeft = b.left;
  }
}

TEST(LeftAlignedLabel, KeepsItsLeftEdge) {
  test::RecordingApplication app;
  ui::Form* form = app.CreateForm({"F", "F", 418, 89});
  ui::Label* label = form->AddLabel({"lblAtual", {8, 8, 77, 13}, "Registro atual: 0"});
  label->SetCaption("Registro atual: 123456");
  EXPECT_EQ(label->GetBounds().left, 8);
  EXPECT_GT(label->GetBounds().width, 77);
}

TEST(DefaultFailureDisplay, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ui::Application::FailureText(Exception("Falhou")), "Falhou.");
  EXPECT_EQ(ui::Application::FailureText(Exception("Falhou.")), "Falhou.");
  EXPECT_EQ(ui::Application::FailureText(Exception("Falhou!")), "Falhou!");  // '!' < '.'
  EXPECT_EQ(ui::Application::FailureText(Exception("x -")), "x -");          // '-' < '.'
  EXPECT_EQ(ui::Application::FailureText(Exception("x/")), "x/.");           // '/' > '.'
  EXPECT_EQ(ui::Application::FailureText(Exception("Socket Error # 1\r\n")),
            "Socket Error # 1\r\n");
  EXPECT_EQ(ui::Application::FailureText(Exception("conclu\xED"
                                                   "do")),
            "conclu\xED"
            "do.");
  EXPECT_EQ(ui::Application::FailureText(Exception("")), "");
}

TEST(DefaultFailureDisplay, EventHandlerFailuresAreShownAndTheSilentAbortIsNot) {
  test::RecordingApplication app;
  app.HandleEvent([] { throw EConvertError("'x' is not a valid integer value"); });
  app.HandleEvent([] { throw EAbort(); });
  app.HandleEvent([] { throw std::runtime_error("other"); });
  app.HandleEvent([] {});
  ASSERT_EQ(app.Failures().size(), 2u);
  EXPECT_EQ(app.Failures()[0], "'x' is not a valid integer value.");
  EXPECT_EQ(app.Failures()[1], "other.");
  EXPECT_TRUE(app.Messages().empty());
}

TEST(DefaultFailureDisplay, EventHandlingTellsWhetherTheHandlerRanToItsEnd) {
  test::RecordingApplication app;
  int steps = 0;
  EXPECT_TRUE(app.HandleEvent([&] { ++steps; }));
  EXPECT_FALSE(app.HandleEvent([&] {
    ++steps;
    throw EAbort();
  }));
  EXPECT_FALSE(app.HandleEvent([] { throw Exception("Falhou"); }));
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(app.Failures(), std::vector<std::string>{"Falhou."});
}

TEST(RecordingButton, ClicksOnlyWhileEnabled) {
  test::RecordingApplication app;
  ui::Form* form = app.CreateForm({"F", "F", 418, 89});
  int clicks = 0;
  ui::Button* button = form->AddButton({"b", {0, 0, 10, 10}, "b", 0}, [&] { ++clicks; });
  auto* recording = static_cast<test::RecordingButton*>(button);
  recording->Click();
  button->SetEnabled(false);
  recording->Click();
  button->SetEnabled(true);
  recording->Click();
  EXPECT_EQ(clicks, 2);
}

}  // namespace
