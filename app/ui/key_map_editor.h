#pragma once
// The key map editor: a keyboard picture to pick a key, a tab per record of the key map
// file, and the six mappings of the picked key (no modifier, Ctrl, Shift, Ctrl+Shift,
// Ctrl+Alt, Ctrl+Alt+Shift). Byte 27 shows as "<ESC>". Edits change the loaded record;
// "Save" writes it to the file.

#include "terminal/keyboard_emulator.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTabBar;
class QValidator;

namespace zelvo::app {

// The keyboard picture: one button per key, each carrying its virtual-key code.
class KeyLayoutMap : public QWidget {
    Q_OBJECT

public:
    explicit KeyLayoutMap(QWidget* parent = nullptr);
    // Label of a key code ("F1", "PgUp", "Q"); empty for a code the picture lacks.
    QString keyLabel(int vk) const;
    // Presses the key of that code as a click would.
    void pick(int vk);
    int picked() const { return picked_; }

signals:
    void keyPicked(int vk);

private:
    QButtonGroup* group_;
    int picked_ = 0;
};

class KMEditor : public QDialog {
    Q_OBJECT

public:
    // The six shift codes in the order of the edit boxes.
    static constexpr int kShiftCodes[6] = {14, 12, 6, 4, 8, 0};

    KMEditor(QWidget* parent = nullptr);

    // Opens the map file and loads the record; false with a message when that fails.
    bool Load(const std::string& mapFileName, const std::string& emulatorType,
              std::string& error);
    const std::string& MapFileName() const { return mapFileName_; }
    std::string EmulatorType() const { return keyboard_.EmulatorType(); }

    KeyLayoutMap* keys() const { return keys_; }
    QLineEdit* mappingEdit(int i) const { return edits_[i]; }
    // Bytes a mapping of a key and shift code can hold: the stored value "key,shift,
    // mapping" is at most 20 characters.
    static int MappingLimit(int vk, int shiftCode);
    // The line under the edit boxes: how long a mapping may be, or what was refused.
    QString hint() const;
    QTabBar* tabs() const { return tabs_; }
    bool modified() const { return keyboard_.modified(); }

    void KeyClick(int vk);
    // Stores the text of edit box i into the loaded record.
    void EditExit(int i);
    // Writes the loaded record to the file; false with a message when that fails.
    bool SaveClick();
    void TabChange(int index);

    // Asks whether to save changes: QMessageBox::Yes, No or Cancel. A test may answer.
    std::function<int()> askSave;

    void done(int result) override;

private:
    void showKey();
    // Stores the six edits into the loaded record for the key they show.
    void commitShown();
    void showLimit(int i);
    bool settleChanges();
    void reportError(const std::string& text);

    terminal::KeyboardEmulator keyboard_;
    std::string mapFileName_;
    KeyLayoutMap* keys_;
    QTabBar* tabs_;
    QGroupBox* mappings_;
    QLineEdit* edits_[6];
    QValidator* validators_[6];
    QLabel* hint_;
    // The key whose mappings the edit boxes show.
    int shownKey_ = 0;
    bool switching_ = false;
};

} // namespace zelvo::app
