// The main window against its stored layout: every control where the layout table puts it,
// with its caption, the form's caption and client size, the progress bar's range and the tab
// order, as the window hands them to the window system.
#include <gtest/gtest.h>

#include <memory>

#include "app/U_Principal.h"
#include "tests/support/RecordingApplication.h"

namespace {

// The recording front-end that also keeps every layout the window hands it.
struct LayoutRecorder : test::RecordingApplication {
  struct Form : test::RecordingForm {
    using RecordingForm::RecordingForm;
    ui::Label* AddLabel(const ui::LabelLayout& l) override {
      labels.push_back(l);
      return RecordingForm::AddLabel(l);
    }
    ui::Button* AddButton(const ui::ButtonLayout& l, std::function<void()> onClick) override {
      buttons.push_back(l);
      return RecordingForm::AddButton(l, std::move(onClick));
    }
    ui::ProgressBar* AddProgressBar(const ui::ProgressBarLayout& l) override {
      bars.push_back(l);
      return RecordingForm::AddProgressBar(l);
    }
    std::vector<ui::LabelLayout> labels;
    std::vector<ui::ButtonLayout> buttons;
    std::vector<ui::ProgressBarLayout> bars;
  };
  ui::Form* CreateForm(const ui::FormLayout& layout) override {
    forms.push_back(std::make_unique<Form>(layout, *this));
    return forms.back().get();
  }
  std::vector<std::unique_ptr<Form>> forms;
};

// The layout of the control called `name`; a failure when there is none.
template <class Layout>
const Layout& Named(const std::vector<Layout>& layouts, const std::string& name) {
  for (const Layout& layout : layouts)
    if (layout.name == name) return layout;
  ADD_FAILURE() << "no control " << name;
  static const Layout none{};
  return none;
}

// Left, top, width, height.
std::vector<int> Box(const ui::Bounds& b) {
  return {b.left, b.top, b.width, b.height};
}

TEST(MainWindow, OpensWithItsStoredLayoutAndTexts) {
  LayoutRecorder app;
  app.SetTitle(app::kApplicationTitle);
  TFrmPrincipal window(app);
  EXPECT_EQ(FrmPrincipal, &window);
  ASSERT_EQ(app.forms.size(), 1u);
  const ui::FormLayout& form = app.forms[0]->Layout();
  EXPECT_EQ(form.caption, "Lirenta");
  EXPECT_EQ(form.clientWidth, 418);
  EXPECT_EQ(form.clientHeight, 89);

  const LayoutRecorder::Form& controls = *app.forms[0];
  EXPECT_EQ(controls.labels.size(), 2u);
  const ui::LabelLayout& atual = Named(controls.labels, "lblAtual");
  EXPECT_EQ(Box(atual.bounds), (std::vector<int>{8, 8, 77, 13}));
  EXPECT_EQ(atual.caption, "Registro atual: 0");
  EXPECT_EQ(atual.alignment, ui::Alignment::Left);
  const ui::LabelLayout& total = Named(controls.labels, "lblTotal");
  EXPECT_EQ(Box(total.bounds), (std::vector<int>{375, 8, 36, 13}));
  EXPECT_EQ(total.caption, "Total: 0");
  EXPECT_EQ(total.alignment, ui::Alignment::Right);

  EXPECT_EQ(controls.bars.size(), 1u);
  const ui::ProgressBarLayout& bar = Named(controls.bars, "ProgressBar1");
  EXPECT_EQ(Box(bar.bounds), (std::vector<int>{8, 32, 401, 17}));
  EXPECT_EQ((std::vector<int>{bar.min, bar.max, bar.position}), (std::vector<int>{0, 100, 0}));
  EXPECT_EQ(bar.tabOrder, 1);

  EXPECT_EQ(controls.buttons.size(), 1u);
  const ui::ButtonLayout& button = Named(controls.buttons, "btnBuscar");
  EXPECT_EQ(Box(button.bounds), (std::vector<int>{148, 56, 122, 25}));
  EXPECT_EQ(button.caption, "Lirenta");
  EXPECT_EQ(button.tabOrder, 0);

  // The controls as the window holds them: self-sizing labels keep their fixed edges.
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
