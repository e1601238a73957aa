#include "app/U_Principal.h"

TFrmPrincipal* FrmPrincipal = nullptr;

namespace {

// The window's stored layout: client area 418 x 89 pixels at 96 dpi.
const ui::FormSpec kFormSpec{"FrmPrincipal", "Lirenta", 418, 89};
const ui::LabelSpec kLblAtual{"lblAtual", {8, 8, 77, 13}, "Registro atual: 0", ui::Alignment::Left};
const ui::LabelSpec kLblTotal{"lblTotal", {375, 8, 36, 13}, "Total: 0", ui::Alignment::Right};
const ui::ProgressBarSpec kProgressBar1{"ProgressBar1", {8, 32, 401, 17}, 0, 100, 0, 1};
const ui::ButtonSpec kBtnBuscar{"btnBuscar", {148, 56, 122, 25}, "Lirenta", 0};

}  // namespace

TFrmPrincipal::TFrmPrincipal(ui::Application& application) : application_(application) {
  ui::Form* form = application_.CreateForm(kFormSpec);
  btnBuscar = form->AddButton(kBtnBuscar, [this] { btnBuscarClick(); });
  ProgressBar1 = form->AddProgressBar(kProgressBar1);
  lblAtual = form->AddLabel(kLblAtual);
  lblTotal = form->AddLabel(kLblTotal);
  form->SetOnShow([this] { FormShow(); });
  if (FrmPrincipal == nullptr) FrmPrincipal = this;
}

TFrmPrincipal::~TFrmPrincipal() {
  if (FrmPrincipal == this) FrmPrincipal = nullptr;
}

void TFrmPrincipal::FormShow() {}

void TFrmPrincipal::btnBuscarClick() {}

namespace app {

int RunProgram(ui::Application& application) {
  application.SetTitle(kApplicationTitle);
  TFrmPrincipal window(application);
  application.Run();
  return 0;
}

}  // namespace app
