#include "app/ui/user_prompts.h"

#include "app/ui/key_map_editor.h"
#include "app/ui/port_options_dialog.h"
#include "app/ui/session_form.h"
#include "app/ui/terminal_window_access.h"
#include "terminal/buffer.h"
#include "protocols/ui/protocol_options.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QInputDialog>
#include <QPixmap>
#include <QLabel>
#include <QFontDialog>
#include <QMessageBox>

namespace zelvo::app {

void DialogPrompts::error(const QString& text)
{
    QMessageBox::warning(parent_, QStringLiteral("Error"), text);
}

std::optional<PortOptionValues> DialogPrompts::portOptions(const PortOptionValues& v)
{
    PortOptionsDialog d(lines_, parent_);
    d.Load(v);
    if (d.exec() != QDialog::Accepted)
        return std::nullopt;
    return d.ResultPort();
}

SessionFormResult DialogPrompts::sessionForm(const std::vector<std::string>& names,
                                             const std::string& preset)
{
    SessionForm d(names, preset, parent_);
    d.exec();
    return d.result();
}

std::optional<FontChoice> DialogPrompts::chooseFont(const QFont& current, uint32_t color)
{
    QFontDialog d(current, parent_);
    d.setWindowTitle(QStringLiteral("Font"));
    // The dialog's own widgets, so that the colour can join its effects.
    d.setOptions(QFontDialog::MonospacedFonts | QFontDialog::DontUseNativeDialog);
    d.setCurrentFont(current);
    // The terminal draws in the sixteen colours of its palette; black would hide the
    // text on the black background, so the choice starts at dark red.
    static const char* const kNames[16] = {"Black", "Maroon", "Green", "Olive", "Navy", "Purple",
                                           "Teal", "Silver", "Gray", "Red", "Lime", "Yellow",
                                           "Blue", "Fuchsia", "Aqua", "White"};
    auto* colors = new QComboBox(&d);
    colors->setObjectName(QStringLiteral("ColorBox"));
    for (int i = 1; i < 16; ++i) {
        const uint32_t rgb = terminal::Buffer::kPalette[i];
        QPixmap swatch(12, 12);
        swatch.fill(QColor::fromRgb(QRgb(rgb)));
        // Colours are stored as 0x00BBGGRR.
        const uint32_t stored = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
        colors->addItem(QIcon(swatch), QString::fromLatin1(kNames[i]), QVariant::fromValue(stored));
    }
    const int nearest = TerminalWindowAccess::nearestPaletteIndex(color);
    colors->setCurrentIndex(std::max(nearest, 1) - 1);
    for (QGroupBox* g : d.findChildren<QGroupBox*>())
        if (g->layout() && g->title().contains(QStringLiteral("Effects"))) {
            auto* row = new QHBoxLayout;
            auto* label = new QLabel(QStringLiteral("&Color:"), g);
            label->setBuddy(colors);
            row->addWidget(label);
            row->addWidget(colors, 1);
            if (auto* box = qobject_cast<QBoxLayout*>(g->layout()))
                box->addLayout(row);
            break;
        }
    if (d.exec() != QDialog::Accepted)
        return std::nullopt;
    return FontChoice{d.selectedFont(), colors->currentData().toUInt()};
}

std::optional<CaptureChoice> DialogPrompts::chooseCaptureFile(const QString& current, bool crlf)
{
    QFileDialog d(parent_, QStringLiteral("Open log file..."));
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setNameFilters({QStringLiteral("Log files (*.log)"), QStringLiteral("All files (*)")});
    d.setDefaultSuffix(QStringLiteral("log"));
    // Replacing an existing capture file is what capturing does; no extra question.
    d.setOption(QFileDialog::DontConfirmOverwrite, true);
    // The dialog's own widgets, so that the line break choice can sit below them.
    d.setOption(QFileDialog::DontUseNativeDialog, true);
    d.selectFile(current.isEmpty() ? QStringLiteral("zelvo.log") : current);
    auto* ends = new QComboBox(&d);
    ends->setObjectName(QStringLiteral("LineEndsBox"));
    ends->addItem(QStringLiteral("LF (Linux)"));
    ends->addItem(QStringLiteral("CR LF (DOS, Windows)"));
    ends->setCurrentIndex(crlf ? 1 : 0);
    if (auto* grid = qobject_cast<QGridLayout*>(d.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(new QLabel(QStringLiteral("Line breaks:"), &d), row, 0);
        grid->addWidget(ends, row, 1);
    }
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return std::nullopt;
    return CaptureChoice{d.selectedFiles().first(), ends->currentIndex() == 1};
}

bool DialogPrompts::keyMapEditor(std::string& mapFile, std::string& emulation)
{
    KMEditor editor(parent_);
    std::string error;
    if (!editor.Load(mapFile, emulation, error)) {
        this->error(QStringLiteral("The key map %1 cannot be opened:\n%2")
                        .arg(QString::fromStdString(mapFile), QString::fromStdString(error)));
        return false;
    }
    if (editor.exec() != QDialog::Accepted)
        return false;
    mapFile = editor.MapFileName();
    emulation = editor.EmulatorType();
    return true;
}

void DialogPrompts::about()
{
    AboutBox box(parent_);
    box.exec();
}

std::vector<QString> DialogPrompts::chooseSendFiles(const QString& preset, bool multiple)
{
    QFileDialog d(parent_, QStringLiteral("Send file..."));
    d.setNameFilter(QStringLiteral("All files (*)"));
    d.setAcceptMode(QFileDialog::AcceptOpen);
    // A single-file protocol takes the typed name without checks; a batch takes
    // existing files only.
    d.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    if (!preset.isEmpty())
        d.selectFile(preset);
    if (d.exec() != QDialog::Accepted)
        return {};
    std::vector<QString> out;
    for (const QString& f : d.selectedFiles())
        out.push_back(f);
    return out;
}

std::optional<QString> DialogPrompts::chooseReceiveFile(const QString& preset)
{
    QFileDialog d(parent_, QStringLiteral("Receive file..."));
    d.setNameFilter(QStringLiteral("All files (*)"));
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setFileMode(QFileDialog::AnyFile);
    d.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!preset.isEmpty())
        d.selectFile(preset);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return std::nullopt;
    return d.selectedFiles().front();
}

std::optional<QString> DialogPrompts::chooseDirectory(const QString& preset)
{
    QString dir = QFileDialog::getExistingDirectory(parent_, QStringLiteral("Destnation directory..."),
                                                    preset);
    if (dir.isEmpty())
        return std::nullopt;
    return dir;
}

std::optional<int> DialogPrompts::chooseHistoryRows(int current, int most)
{
    bool ok = false;
    const int rows = QInputDialog::getInt(
        parent_, QStringLiteral("Scrollback rows"),
        QStringLiteral("Rows of history kept above the page (0 to %1):").arg(most), current, 0,
        most, 50, &ok);
    if (!ok)
        return std::nullopt;
    return rows;
}

bool DialogPrompts::protocolOptions(protocols::Protocol& protocol, bool& zmodemAutoStart)
{
    protocols::ProtocolOptions d(parent_);
    d.Load(protocol, zmodemAutoStart);
    if (d.exec() != QDialog::Accepted)
        return false;
    d.Save(protocol);
    zmodemAutoStart = d.ZmodemAutoDetect();
    return true;
}

} // namespace zelvo::app
