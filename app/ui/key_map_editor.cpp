#include "app/ui/key_map_editor.h"

#include "terminal/eini.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>
#include <QValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::app {

namespace {

struct Key {
    const char* label;
    int vk;
    int width; // in quarter key widths
};

// Rows of the picture; a key of code 0 is a gap. Codes are the virtual-key codes of the
// key map file.
const std::vector<std::vector<Key>>& keyRows()
{
    static const std::vector<std::vector<Key>> rows = {
        {{"Esc", 27, 4}, {"", 0, 4}, {"F1", 112, 4}, {"F2", 113, 4}, {"F3", 114, 4}, {"F4", 115, 4},
         {"", 0, 2}, {"F5", 116, 4}, {"F6", 117, 4}, {"F7", 118, 4}, {"F8", 119, 4}, {"", 0, 2},
         {"F9", 120, 4}, {"F10", 121, 4}, {"F11", 122, 4}, {"F12", 123, 4}, {"", 0, 2},
         {"ScLk", 145, 4}, {"Paus", 19, 4}},
        {{"`", 192, 4}, {"1", 49, 4}, {"2", 50, 4}, {"3", 51, 4}, {"4", 52, 4}, {"5", 53, 4},
         {"6", 54, 4}, {"7", 55, 4}, {"8", 56, 4}, {"9", 57, 4}, {"0", 48, 4}, {"-", 189, 4},
         {"=", 187, 4}, {"Bksp", 8, 8}, {"", 0, 2}, {"Ins", 45, 4}, {"Home", 36, 4}, {"PgUp", 33, 4}},
        {{"Tab", 9, 6}, {"Q", 81, 4}, {"W", 87, 4}, {"E", 69, 4}, {"R", 82, 4}, {"T", 84, 4},
         {"Y", 89, 4}, {"U", 85, 4}, {"I", 73, 4}, {"O", 79, 4}, {"P", 80, 4}, {"[", 219, 4},
         {"]", 221, 4}, {"\\", 220, 6}, {"", 0, 2}, {"Del", 46, 4}, {"End", 35, 4}, {"PgDn", 34, 4}},
        {{"Caps", 20, 7}, {"A", 65, 4}, {"S", 83, 4}, {"D", 68, 4}, {"F", 70, 4}, {"G", 71, 4},
         {"H", 72, 4}, {"J", 74, 4}, {"K", 75, 4}, {"L", 76, 4}, {";", 186, 4}, {"'", 222, 4},
         {"Enter", 13, 9}},
        {{"Shift", 16, 9}, {"Z", 90, 4}, {"X", 88, 4}, {"C", 67, 4}, {"V", 86, 4}, {"B", 66, 4},
         {"N", 78, 4}, {"M", 77, 4}, {",", 188, 4}, {".", 190, 4}, {"Shift", 16, 15}, {"", 0, 6},
         {"Up", 38, 4}},
        {{"Ctrl", 17, 6}, {"", 0, 4}, {"Alt", 18, 6}, {"Space", 32, 26}, {"Alt", 18, 6}, {"", 0, 4},
         {"Ctrl", 17, 6}, {"", 0, 2}, {"Left", 37, 4}, {"Down", 40, 4}, {"Right", 39, 4}},
    };
    return rows;
}

const char* const kEditLabels[6] = {"Normal", "Ctrl Key", "Shift Key", "Ctrl+Shift", "Ctrl+Alt",
                                    "Ctrl+Alt+Shift"};

const QString kEsc = QStringLiteral("<ESC>");

// Keeps a mapping edit to what the key map can store: 8-bit printable characters and
// <ESC>, no more bytes than the key's entry holds. "<ESC>" counts as the one byte it is
// stored as; a partly typed "<ESC>" that would fit once complete is let through.
class MappingValidator : public QValidator {
public:
    MappingValidator(QObject* parent, std::function<void(const QString&)> refused)
        : QValidator(parent), refused_(std::move(refused))
    {
    }
    int limit = 0;

    State validate(QString& input, int&) const override
    {
        for (QChar c : input)
            if (c.unicode() > 0xFF || c.unicode() < 0x20 || c.unicode() == 0x7F) {
                refused_(QStringLiteral("\"%1\" cannot be stored in the key map: it holds 8-bit "
                                        "characters, and <ESC> for the escape byte.")
                             .arg(c));
                return Invalid;
            }
        if (bytes(input) <= limit)
            return Acceptable;
        for (int n = 1; n <= kEsc.size(); ++n)
            if (input.endsWith(kEsc.left(n)) && bytes(input.left(input.size() - n)) + 1 <= limit)
                return Intermediate;
        refused_(QStringLiteral("This mapping holds at most %1 characters (<ESC> counts as one).").arg(limit));
        return Invalid;
    }

    static int bytes(const QString& text)
    {
        return int(terminal::KeyboardEmulator::fromDisplay(text.toLatin1().toStdString()).size());
    }

private:
    std::function<void(const QString&)> refused_;
};

} // namespace

int KMEditor::MappingLimit(int vk, int shiftCode)
{
    const int fixed = int(std::to_string(vk).size() + std::to_string(shiftCode).size()) + 2;
    return std::max(0, terminal::KeyboardEmulator::kMaxValue - fixed);
}

KeyLayoutMap::KeyLayoutMap(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("KeyLayoutMap"));
    group_->setExclusive(true);
    auto* grid = new QGridLayout(this);
    grid->setSpacing(2);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    for (auto& keys : keyRows()) {
        int column = 0;
        for (const Key& k : keys) {
            if (k.vk != 0) {
                auto* b = new QToolButton(this);
                b->setText(QString::fromLatin1(k.label));
                b->setCheckable(true);
                b->setAutoRaise(false);
                b->setMinimumSize(std::max(k.width * 7, b->fontMetrics().horizontalAdvance(b->text()) + 12), 26);
                b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
                b->setProperty("vk", k.vk);
                group_->addButton(b);
                grid->addWidget(b, row, column, 1, k.width);
            }
            column += k.width;
        }
        ++row;
    }
    connect(group_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* b) {
        picked_ = b->property("vk").toInt();
        emit keyPicked(picked_);
    });
}

QString KeyLayoutMap::keyLabel(int vk) const
{
    for (auto& keys : keyRows())
        for (const Key& k : keys)
            if (k.vk == vk)
                return QString::fromLatin1(k.label);
    return {};
}

void KeyLayoutMap::pick(int vk)
{
    for (QAbstractButton* b : group_->buttons())
        if (b->property("vk").toInt() == vk) {
            b->click();
            return;
        }
}

KMEditor::KMEditor(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("KMEditor"));
    setWindowTitle(QStringLiteral("Keymap Editor"));
    auto* top = new QVBoxLayout(this);

    tabs_ = new QTabBar(this);
    tabs_->setObjectName(QStringLiteral("EmuTypesTab"));
    top->addWidget(tabs_);
    keys_ = new KeyLayoutMap(this);
    top->addWidget(keys_);

    mappings_ = new QGroupBox(QStringLiteral("Mappings - [ ]"), this);
    mappings_->setObjectName(QStringLiteral("MappingsBox"));
    auto* form = new QGridLayout(mappings_);
    for (int i = 0; i < 6; ++i) {
        edits_[i] = new QLineEdit(mappings_);
        edits_[i]->setObjectName(QStringLiteral("MapEdit%1").arg(i));
        edits_[i]->setEnabled(false);
        validators_[i] = new MappingValidator(edits_[i], [this](const QString& why) { hint_->setText(why); });
        edits_[i]->setValidator(validators_[i]);
        form->addWidget(new QLabel(QString::fromLatin1(kEditLabels[i]), mappings_), i % 3, (i / 3) * 2);
        form->addWidget(edits_[i], i % 3, (i / 3) * 2 + 1);
        connect(edits_[i], &QLineEdit::editingFinished, this, [this, i] { EditExit(i); });
        connect(edits_[i], &QLineEdit::textEdited, this, [this, i] { showLimit(i); });
    }
    hint_ = new QLabel(mappings_);
    hint_->setObjectName(QStringLiteral("LimitLabel"));
    form->addWidget(hint_, 3, 0, 1, 4);
    top->addWidget(mappings_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("SaveBtn"));
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OkBtn"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    connect(save, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);

    connect(keys_, &KeyLayoutMap::keyPicked, this, &KMEditor::KeyClick);
    connect(tabs_, &QTabBar::currentChanged, this, &KMEditor::TabChange);

    askSave = [this] {
        return QMessageBox::question(this, QStringLiteral("Keymap Editor"),
                                     QStringLiteral("The current Key Map has been modified.  Save?"),
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    };
}

bool KMEditor::Load(const std::string& mapFileName, const std::string& emulatorType,
                    std::string& error)
{
    mapFileName_ = mapFileName;
    try {
        keyboard_.setMapFileName(mapFileName);
        keyboard_.setEnabled(true);
        if (!emulatorType.empty())
            keyboard_.setEmulatorType(emulatorType);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    switching_ = true;
    while (tabs_->count() > 0)
        tabs_->removeTab(0);
    for (auto& name : keyboard_.recordNames()) {
        int i = tabs_->addTab(QString::fromStdString(name));
        if (name == keyboard_.EmulatorType())
            tabs_->setCurrentIndex(i);
    }
    switching_ = false;
    showKey();
    return true;
}

void KMEditor::KeyClick(int)
{
    // What was typed for the key shown so far is kept before another key is shown.
    commitShown();
    showKey();
}

void KMEditor::commitShown()
{
    for (int i = 0; i < 6; ++i)
        EditExit(i);
}

void KMEditor::showKey()
{
    const int vk = keys_->picked();
    shownKey_ = vk;
    mappings_->setTitle(QStringLiteral("Mappings - [") + keys_->keyLabel(vk) + QStringLiteral("]"));
    for (int i = 0; i < 6; ++i) {
        edits_[i]->setEnabled(vk != 0);
        static_cast<MappingValidator*>(validators_[i])->limit = vk != 0 ? MappingLimit(vk, kShiftCodes[i]) : 0;
        edits_[i]->setText(vk != 0 ? QString::fromLatin1(terminal::KeyboardEmulator::toDisplay(
                                         keyboard_.mapping(vk, kShiftCodes[i]))
                                                             .c_str())
                                   : QString());
        edits_[i]->setToolTip(vk != 0 ? QStringLiteral("Up to %1 characters; <ESC> counts as one.")
                                            .arg(MappingLimit(vk, kShiftCodes[i]))
                                      : QString());
    }
    if (vk != 0)
        showLimit(0);
    else
        hint_->clear();
}

void KMEditor::showLimit(int i)
{
    const int vk = shownKey_;
    if (vk == 0)
        return;
    hint_->setText(QStringLiteral("%1: %2 of %3 characters (<ESC> counts as one).")
                       .arg(QString::fromLatin1(kEditLabels[i]))
                       .arg(MappingValidator::bytes(edits_[i]->text()))
                       .arg(MappingLimit(vk, kShiftCodes[i])));
}

QString KMEditor::hint() const
{
    return hint_->text();
}

void KMEditor::EditExit(int i)
{
    const int vk = shownKey_;
    if (vk == 0)
        return;
    std::string mapping = terminal::KeyboardEmulator::fromDisplay(edits_[i]->text().toLatin1().toStdString());
    // A partly typed "<ESC>" that does not fit is not stored as its letters.
    const size_t limit = size_t(MappingLimit(vk, kShiftCodes[i]));
    if (mapping.size() > limit)
        mapping.resize(limit);
    if (mapping == keyboard_.mapping(vk, kShiftCodes[i]))
        return;
    if (!keyboard_.setMapping(vk, kShiftCodes[i], mapping)) {
        reportError("All 100 places of this key map are taken; clear a mapping first.");
        showKey();
    }
}

bool KMEditor::SaveClick()
{
    commitShown();
    std::string name = keyboard_.EmulatorType();
    if (name.empty() && tabs_->currentIndex() >= 0)
        name = tabs_->tabText(tabs_->currentIndex()).toStdString();
    if (name.empty()) {
        reportError("The key map has no record to save into.");
        return false;
    }
    try {
        keyboard_.saveRecord(name);
    } catch (const std::exception& e) {
        reportError(std::string("The key map cannot be saved: ") + e.what());
        return false;
    }
    return true;
}

bool KMEditor::settleChanges()
{
    commitShown();
    if (!keyboard_.modified())
        return true;
    switch (askSave()) {
    case QMessageBox::Yes:
        return SaveClick();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void KMEditor::TabChange(int index)
{
    if (switching_ || index < 0)
        return;
    std::string name = tabs_->tabText(index).toStdString();
    if (name == keyboard_.EmulatorType())
        return;
    // Edits of the record being left are not dropped without asking.
    if (!settleChanges()) {
        switching_ = true;
        for (int i = 0; i < tabs_->count(); ++i)
            if (tabs_->tabText(i).toStdString() == keyboard_.EmulatorType())
                tabs_->setCurrentIndex(i);
        switching_ = false;
        return;
    }
    try {
        keyboard_.setEmulatorType(name);
    } catch (const std::exception& e) {
        reportError(e.what());
    }
    showKey();
}

void KMEditor::done(int result)
{
    if (!settleChanges())
        return;
    QDialog::done(result);
}

void KMEditor::reportError(const std::string& text)
{
    QMessageBox::warning(this, QStringLiteral("Error"), QString::fromStdString(text));
}

} // namespace zelvo::app
