#include "app/message_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <vector>

#include "app/paths.h"
#include "widgets/bit_btn.h"

namespace vantor {

namespace {

// Layout of the classic message dialog, in pixels.
constexpr int HorzMargin = 12;
constexpr int VertMargin = 13;
constexpr int HorzSpacing = 15;
constexpr int VertSpacing = 15;
constexpr int ButtonWidth = 75;
constexpr int ButtonSpacing = 6;
constexpr int IconSize = 32;

struct TButtonInfo {
  TMsgDlgBtn Button;
  const char* Name;
  const char* Caption;
};

constexpr TButtonInfo ButtonInfos[] = {
    {TMsgDlgBtn::Yes, "Yes", "&Yes"},
    {TMsgDlgBtn::No, "No", "&No"},
    {TMsgDlgBtn::OK, "OK", "OK"},
    {TMsgDlgBtn::Cancel, "Cancel", "Cancel"},
    {TMsgDlgBtn::Abort, "Abort", "&Abort"},
    {TMsgDlgBtn::Retry, "Retry", "&Retry"},
    {TMsgDlgBtn::Ignore, "Ignore", "&Ignore"},
    {TMsgDlgBtn::All, "All", "&All"},
    {TMsgDlgBtn::NoToAll, "NoToAll", "N&o to All"},
    {TMsgDlgBtn::YesToAll, "YesToAll", "Yes to &All"},
    {TMsgDlgBtn::Help, "Help", "&Help"},
};

const char* const ModalResultProperty = "modalResult";
const char* const CancelProperty = "cancelButton";

QStyle::StandardPixmap IconOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::Warning: return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::Error: return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::Information: return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::Confirmation: return QStyle::SP_MessageBoxQuestion;
    case TMsgDlgType::Custom: break;
  }
  return QStyle::SP_CustomBase;
}

}  // namespace

TMessageForm::TMessageForm(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons, QWidget* parent)
    : QDialog(parent), FType(type) {
  // The classic dialog picks its default and cancel buttons from the set.
  const TMsgDlgBtn defaultButton = buttons.Has(TMsgDlgBtn::OK)    ? TMsgDlgBtn::OK
                                   : buttons.Has(TMsgDlgBtn::Yes) ? TMsgDlgBtn::Yes
                                                                  : TMsgDlgBtn::Retry;
  const TMsgDlgBtn cancelButton = buttons.Has(TMsgDlgBtn::Cancel) ? TMsgDlgBtn::Cancel
                                  : buttons.Has(TMsgDlgBtn::No)   ? TMsgDlgBtn::No
                                                                  : TMsgDlgBtn::OK;

  int textLeft = HorzMargin;
  if (type != TMsgDlgType::Custom) {
    auto* icon = new QLabel(this);
    icon->setObjectName("Image");
    icon->setPixmap(style()->standardIcon(IconOf(type)).pixmap(IconSize, IconSize));
    icon->setGeometry(HorzMargin, VertMargin, IconSize, IconSize);
    textLeft += IconSize + HorzSpacing;
  }

  // A label without a buddy shows "&" literally, so the text goes in as given.
  FMessage = new QLabel(QString::fromStdString(message), this);
  FMessage->setObjectName("Message");
  FMessage->setTextFormat(Qt::PlainText);
  FMessage->setWordWrap(true);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const int maxTextWidth = screen != nullptr ? screen->availableGeometry().width() / 2 : 400;
  QRect textRect = FMessage->fontMetrics().boundingRect(QRect(0, 0, maxTextWidth, 0),
                                                         Qt::TextWordWrap | Qt::AlignLeft,
                                                         FMessage->text());
  FMessage->setGeometry(textLeft, VertMargin, textRect.width() + 2, textRect.height());

  std::vector<QPushButton*> pushButtons;
  for (const TButtonInfo& info : ButtonInfos) {
    if (!buttons.Has(info.Button)) continue;
    auto* b = new QPushButton(QString::fromUtf8(info.Caption), this);
    b->setObjectName(info.Name);
    b->setProperty(ModalResultProperty, ButtonModalResult(info.Button));
    b->setProperty(CancelProperty, info.Button == cancelButton);
    b->setAutoDefault(false);
    b->setDefault(info.Button == defaultButton);
    const int result = ButtonModalResult(info.Button);
    if (result != 0) connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
    pushButtons.push_back(b);
  }

  const int count = static_cast<int>(pushButtons.size());
  const int buttonsWidth = count > 0 ? count * ButtonWidth + (count - 1) * ButtonSpacing : 0;
  const int contentWidth = std::max(textLeft + textRect.width(), HorzMargin + buttonsWidth);
  const int clientWidth = contentWidth + HorzMargin;
  const int buttonTop = VertMargin + std::max(type != TMsgDlgType::Custom ? IconSize : 0, textRect.height()) +
                        VertSpacing;
  int x = (clientWidth - buttonsWidth) / 2;
  for (QPushButton* b : pushButtons) {
    b->setGeometry(x, buttonTop, ButtonWidth, PushButtonHeight);
    x += ButtonWidth + ButtonSpacing;
  }
  setFixedSize(clientWidth, buttonTop + PushButtonHeight + VertMargin);
}

void TMessageForm::ReplaceButtons() {
  struct TKindRow {
    int Result;
    widgets::TBitBtnKind Kind;
    bool NeverCancel;
    int ExtraWidth;
  };
  static constexpr TKindRow Kinds[] = {
      {0, widgets::TBitBtnKind::Help, false, 0},    {1, widgets::TBitBtnKind::OK, false, 0},
      {2, widgets::TBitBtnKind::Cancel, false, 0},  {3, widgets::TBitBtnKind::Abort, false, 0},
      {4, widgets::TBitBtnKind::Retry, false, 0},   {5, widgets::TBitBtnKind::Ignore, false, 0},
      {6, widgets::TBitBtnKind::Yes, false, 0},     {7, widgets::TBitBtnKind::No, true, 0},
      {8, widgets::TBitBtnKind::All, false, 0},     {9, widgets::TBitBtnKind::No, true, 4},
      {10, widgets::TBitBtnKind::Yes, false, 4},
  };
  const QList<QPushButton*> found = findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
  widgets::TBitBtn* defaultButton = nullptr;
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    QPushButton* old = *it;
    if (qobject_cast<widgets::TBitBtn*>(old) != nullptr) continue;
    const int result = old->property(ModalResultProperty).toInt();
    const TKindRow* row = &Kinds[0];
    for (const TKindRow& k : Kinds)
      if (k.Result == result) row = &k;
    auto* b = new widgets::TBitBtn(old->parentWidget());
    b->SetKind(row->Kind);
    const QRect bounds = old->geometry();
    b->setGeometry(bounds.x(), bounds.y(), bounds.width() + row->ExtraWidth,
                   MaxIntValue({MinBitButtonHeight, bounds.height()}));
    b->setText(old->text());
    b->SetModalResult(result);
    b->setAutoDefault(false);
    const bool isDefault = old->isDefault();
    b->SetCancel(old->property(CancelProperty).toBool() && !row->NeverCancel);
    QWidget::setTabOrder(old, b);
    const QString name = old->objectName();
    delete old;
    b->setObjectName(name);
    if (isDefault) defaultButton = b;
  }
  // Set once every old button is gone: the dialog keeps one default button.
  if (defaultButton != nullptr) defaultButton->setDefault(true);
}

void TMessageForm::FocusDefaultButton(TMsgDlgBtn button) {
  const int result = ButtonModalResult(button);
  for (widgets::TBitBtn* b : findChildren<widgets::TBitBtn*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (b->ModalResult() == result) {
      b->setFocus();
      return;
    }
  }
}

void TMessageForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    for (widgets::TBitBtn* b : findChildren<widgets::TBitBtn*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (b->Cancel()) {
        b->click();
        return;
      }
    }
    event->ignore();  // no cancel button: Escape does nothing
    return;
  }
  QDialog::keyPressEvent(event);
}

void TMessageForm::closeEvent(QCloseEvent* event) {
  event->ignore();
  for (widgets::TBitBtn* b : findChildren<widgets::TBitBtn*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (b->Cancel()) {
      b->click();
      return;
    }
  }
}

}  // namespace vantor
