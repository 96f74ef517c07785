#include "app/corrections_form.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextCharFormat>
#include <QToolButton>
#include <span>
#include <stdexcept>

#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/main_form.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "dbcomp/tarn_table.h"
#include "ui_corrections_form.h"
#include "widgets/db_edit.h"
#include "widgets/db_navigator.h"
#include "widgets/db_rich_edit.h"

namespace vantor {

namespace {

constexpr int PointSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

bool IsAnswerLetter(std::span<const std::uint8_t> value) {
  // A one-character string field: the letter and its terminating zero.
  return !value.empty() && value[0] >= 'A' && value[0] <= 'D' && (value.size() < 2 || value[1] == 0);
}

}  // namespace

TCorrectionsForm::TCorrectionsForm(QWidget* parent)
    : QDialog(parent),
      FUi(std::make_unique<Ui::TCorrectionsForm>()),
      FTarnTable1(std::make_unique<dbcomp::TTarnTable>()) {
  FUi->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  resize(600, 450);
  SetUpTable();
  SetUpControls();
}

TCorrectionsForm::~TCorrectionsForm() {
  // The controls outlive the table: unbind them first, quietly.
  FDataSource1.SetDataSet(nullptr);
}

widgets::TDBRichEdit* TCorrectionsForm::DBRichEdit1() const noexcept { return FUi->DBRichEdit1; }
widgets::TDBNavigator* TCorrectionsForm::DBNavigator1() const noexcept { return FUi->DBNavigator1; }
widgets::TDBEdit* TCorrectionsForm::DBEdit1() const noexcept { return FUi->DBEdit1; }
widgets::TDBEdit* TCorrectionsForm::DBEdit2() const noexcept { return FUi->DBEdit2; }
QToolButton* TCorrectionsForm::BBold() const noexcept { return FUi->BBold; }
QToolButton* TCorrectionsForm::BItalic() const noexcept { return FUi->BItalic; }
QComboBox* TCorrectionsForm::CSize() const noexcept { return FUi->CSize; }
QPushButton* TCorrectionsForm::BPicture() const noexcept { return FUi->BPicture; }

void TCorrectionsForm::SetUpTable() {
  dbcomp::TTarnTable& table = *FTarnTable1;
  table.SetName("TarnTable1");
  table.SetTableName(QuestionTableName);
  table.SetEngineVersion("3.19");
  table.SetAutoDisplayLabels(false);
  table.SetCopyOnAppend(false);
  const std::string origin = std::string(QuestionTableName) + ".";
  const auto add = [&](std::unique_ptr<dbcomp::TField> field) -> dbcomp::TField& {
    field->SetOrigin(origin + field->FieldName());
    return table.AddField(std::move(field));
  };
  add(std::make_unique<dbcomp::TStringField>("QuizName", 20));
  add(std::make_unique<dbcomp::TIntegerField>(dbcomp::TFieldType::Smallint, "Order"));
  add(std::make_unique<dbcomp::TBlobField>(dbcomp::TFieldType::Blob, "Question"));
  dbcomp::TField& answer = add(std::make_unique<dbcomp::TStringField>("AnswerTx", 1));
  add(std::make_unique<dbcomp::TStringField>("UserAnswer", 1));

  answer.OnValidate = [](dbcomp::TField&, std::span<const std::uint8_t> value) {
    if (!IsAnswerLetter(value)) dbcomp::DatabaseError(AnswerMessage);
  };
  table.BeforePost = [](dbcomp::TDataSet& data) {
    if (data.FieldByName("Order").IsNull()) dbcomp::DatabaseError(OrderMessage);
    const dbcomp::TField& a = data.FieldByName("AnswerTx");
    const std::string letter = a.IsNull() ? std::string() : a.AsString();
    if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'D')
      dbcomp::DatabaseError(AnswerMessage);
  };
  table.OnNewRecord = [this](dbcomp::TDataSet& data) {
    if (!FQuizName.empty()) data.FieldByName("QuizName").SetAsString(FQuizName);
  };
  FDataSource1.SetDataSet(FTarnTable1.get());
  FDataSource1.OnDataChange = [this](dbcomp::TField*) { RememberQuizName(); };
  FDataSource1.OnStateChange = [this] { RememberQuizName(); };
}

void TCorrectionsForm::RememberQuizName() {
  dbcomp::TTarnTable& table = *FTarnTable1;
  if (table.State() != dbcomp::TDataSetState::Browse || table.IsEmpty()) return;
  const dbcomp::TField* quiz = table.FindField("QuizName");
  if (quiz != nullptr && !quiz->IsNull()) FQuizName = quiz->AsString();
}

void TCorrectionsForm::SetUpControls() {
  widgets::TDBRichEdit* editor = FUi->DBRichEdit1;
  editor->setTabChangesFocus(true);
  editor->setLineWrapMode(QTextEdit::WidgetWidth);
  editor->SetDataSource(&FDataSource1);
  editor->SetDataField("Question");
  // Questions are shown as the game shows them.
  editor->SetDefaultFont("Times New Roman", 14);
  connect(editor, &widgets::TDBRichEdit::Change, this, [this, editor] {
    editor->SetDefaultFont("Times New Roman", 14);
    ShowCharFormat();
  });

  FUi->DBNavigator1->SetDataSource(&FDataSource1);
  FUi->DBNavigator1->SetShowHint(true);
  // "Delete record?" in the program's own dialog style.
  FUi->DBNavigator1->OnConfirm = [](const QString& question) {
    return ShowMessageDialog(question.toStdString(), "Confirm", TMsgDlgType::Confirmation,
                             {TMsgDlgBtn::OK, TMsgDlgBtn::Cancel}, 0, 0, true,
                             TMsgDlgBtn::Cancel, true) == ButtonModalResult(TMsgDlgBtn::OK);
  };

  FUi->DBEdit1->SetDataSource(&FDataSource1);
  FUi->DBEdit1->SetDataField("Order");
  FUi->DBEdit2->SetDataSource(&FDataSource1);
  FUi->DBEdit2->SetDataField("AnswerTx");
  FUi->DBEdit2->SetCharCase(widgets::TEditCharCase::UpperCase);

  // Formatting of the editor's selection.
  FUi->BBold->setCheckable(true);
  FUi->BItalic->setCheckable(true);
  for (int size : PointSizes) FUi->CSize->addItem(QString::number(size), size);
  const auto merge = [this](const QTextCharFormat& format) {
    RunGuarded(this, [&] { FUi->DBRichEdit1->MergeFormat(format); });
    ShowCharFormat();
  };
  connect(FUi->BBold, &QToolButton::clicked, this, [this, merge] {
    QTextCharFormat f;
    f.setFontWeight(FUi->BBold->isChecked() ? QFont::Bold : QFont::Normal);
    merge(f);
  });
  connect(FUi->BItalic, &QToolButton::clicked, this, [this, merge] {
    QTextCharFormat f;
    f.setFontItalic(FUi->BItalic->isChecked());
    merge(f);
  });
  connect(FUi->CSize, &QComboBox::activated, this, [this, merge](int index) {
    QTextCharFormat f;
    f.setFontPointSize(FUi->CSize->itemData(index).toInt());
    merge(f);
  });
  auto* bold = new QAction(editor);
  bold->setShortcut(QKeySequence::Bold);
  bold->setShortcutContext(Qt::WidgetShortcut);
  connect(bold, &QAction::triggered, FUi->BBold, &QToolButton::click);
  editor->addAction(bold);
  auto* italic = new QAction(editor);
  italic->setShortcut(QKeySequence::Italic);
  italic->setShortcutContext(Qt::WidgetShortcut);
  connect(italic, &QAction::triggered, FUi->BItalic, &QToolButton::click);
  editor->addAction(italic);
  connect(editor, &QTextEdit::currentCharFormatChanged, this, [this] { ShowCharFormat(); });
  ShowCharFormat();

  connect(FUi->BPicture, &QPushButton::clicked, this, [this] { ChoosePicture(); });
}

void TCorrectionsForm::ShowCharFormat() {
  const QTextCharFormat f = FUi->DBRichEdit1->currentCharFormat();
  const QFont font = f.font().resolve(FUi->DBRichEdit1->document()->defaultFont());
  FUi->BBold->setChecked(font.bold());
  FUi->BItalic->setChecked(font.italic());
  const int points = static_cast<int>(font.pointSizeF() + 0.5);
  // A size the list lacks shows an empty choice.
  FUi->CSize->setCurrentIndex(FUi->CSize->findData(points));
}

void TCorrectionsForm::SetDatabaseName(const std::string& databaseName) {
  FTarnTable1->SetDatabaseName(databaseName);
  FDatabaseName = databaseName;
}

void TCorrectionsForm::OpenTable(const std::string& databaseName) {
  SetDatabaseName(databaseName);
  FQuizName.clear();
  FTarnTable1->Open();
}

void TCorrectionsForm::CloseTable() {
  if (!FTarnTable1->Active()) return;
  FTarnTable1->CheckBrowseMode();
  FTarnTable1->Close();
}

bool TCorrectionsForm::InsertPictureFile(const std::string& fileName) {
  const QString path = QString::fromStdString(fileName);
  QImageReader reader(path);
  const QByteArray format = reader.format().toLower();
  if (format.isEmpty() && !reader.canRead())
    throw std::runtime_error("The picture file \"" + fileName + "\" cannot be read");
  if (format != "png" && format != "jpeg" && format != "jpg")
    throw std::runtime_error("The picture file \"" + fileName + "\" is not a PNG or JPEG file");
  QImage image = reader.read();
  if (image.isNull())
    throw std::runtime_error("The picture file \"" + fileName +
                             "\" cannot be read: " + reader.errorString().toStdString());
  // Only what is shown is stored: a wider picture is scaled down first.
  if (image.width() > MaxPictureWidth)
    image = image.scaledToWidth(MaxPictureWidth, Qt::SmoothTransformation);
  return FUi->DBRichEdit1->InsertPicture(image, MaxPictureWidth);
}

void TCorrectionsForm::ChoosePicture() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Insert picture"), QString(),
      QStringLiteral("Pictures (*.png *.jpg *.jpeg);;All files (*)"));
  if (file.isEmpty()) return;
  RunGuarded(this, [&] { InsertPictureFile(file.toStdString()); });
  FUi->DBRichEdit1->setFocus();
}

void TCorrectionsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FDatabaseName.empty() && !FTarnTable1->Active()) {
    RunGuarded(this, [this] {
      OpenTable(FDatabaseName);
      FOpenedOnShow = true;
    });
  }
  if (FCentred) return;
  FCentred = true;
  if (const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen()) {
    const QRect frame = frameGeometry();
    move(s->availableGeometry().center() -
         QPoint((frame.width() - 1) / 2, (frame.height() - 1) / 2));
  }
}

void TCorrectionsForm::keyPressEvent(QKeyEvent* event) {
  // Escape ends an edit without keeping it; in browse mode it closes.
  const dbcomp::TDataSetState state = FTarnTable1->State();
  if (event->key() == Qt::Key_Escape &&
      (state == dbcomp::TDataSetState::Edit || state == dbcomp::TDataSetState::Insert)) {
    RunGuarded(this, [this] { FTarnTable1->Cancel(); });
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TCorrectionsForm::done(int result) {
  // A pending change is posted first; when it cannot be, the window stays.
  bool left = true;
  if (FTarnTable1->Active()) {
    left = false;
    RunGuarded(this, [&] {
      FTarnTable1->CheckBrowseMode();
      left = true;
    });
  }
  if (!left) return;
  if (FOpenedOnShow) {
    FOpenedOnShow = false;
    RunGuarded(this, [this] { FTarnTable1->Close(); });
  }
  QDialog::done(result);
}

}  // namespace vantor
