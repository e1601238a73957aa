#include <gtest/gtest.h>

#include "app/U_Principal.h"
#include "tests/support/RecordingApplication.h"

namespace {

TEST(MainWindow, OpensWithItsStoredLayoutAndTexts) {
  test::RecordingApplication app;
  app.SetTitle(app::kApplicationTitle);
  TFrmPrincipal window(app);
  EXPECT_EQ(FrmPrincipal, &window);
  test::RecordingForm* form = app.MainForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Layout().caption, "Lirenta");
  EXPECT_EQ(form->Layout().clientWidth, 418);
  EXPECT_EQ(form->Layout().clientHeight, 89);
  EXPECT_EQ(window.lblAtual->Caption(), "Registro atual: 0");
  EXPECT_EQ(window.lblAtual->GetBounds().left, 8);
  EXPECT_EQ(window.lblTotal->Caption(), "Total: 0");
  EXPECT_EQ(window.lblTotal->GetBounds().right(), 411);
  EXPECT_EQ(window.ProgressBar1->Max(), 100);
  EXPECT_EQ(window.ProgressBar1->Position(), 0);
  EXPECT_TRUE(window.btnBuscar->Enabled());
  EXPECT_EQ(window.btnBuscar->Caption(), "Lirenta");
}

TEST(MainWindow, ClearsTheGlobalInstanceWhenDestroyed) {
  test::RecordingApplication app;
  { TFrmPrincipal window(app); }
  EXPECT_EQ(FrmPrincipal, nullptr);
}

}  // namespace
