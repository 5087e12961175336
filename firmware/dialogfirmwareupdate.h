#pragma once

#include "hart/identityrecord.h"
#include "hart/parsermaster.h"
#include "hart/parsermasterfirmwareupdate.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QFile;

namespace Ui {
class DialogFirmwareUpdate;
}

// What the firmware window uses of the main window, which outlives it.
struct FirmwareUpdateOwner {
    const Hart::ParserMaster* master = nullptr; // tells whether a device has been identified
    Hart::IdentityRecord* identity = nullptr;   // command 0 is raised here when none has
    // The directory the open dialogs start in, and where the chosen one is remembered.
    std::function<QString()> openDirectory;
    std::function<void(const QString& directory)> rememberOpenDirectory;
    // The link as it is now: a port lost since the window opened counts as closed.
    std::function<bool()> isPortOpen;
};

// Sends a firmware image to the detector. The window is the context of command 253: the engine
// calls begin, readChunk and onProgress of its transfer record, and the window feeds them from
// the open file, a chunk at a time, as the device asks. The image is never parsed.
class DialogFirmwareUpdate : public QDialog, public Hart::ParserMasterFirmwareUpdate {
    Q_OBJECT

public:
    explicit DialogFirmwareUpdate(FirmwareUpdateOwner owner, QWidget* parent = nullptr);
    ~DialogFirmwareUpdate() override;

    // Whether an image file is open (from the start of a transfer until it ends).
    bool isImageOpen() const;

signals:
    // The update has ended well; the text, with its time, is for the main window's status bar.
    void finishedWith(const QString& message);
    // The device asked for data beyond the image: the update did not take.
    void failedWith(const QString& reason);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void on_fileOpen_clicked();
    void on_update_clicked();
    void on_fileName_textChanged(const QString& text);
    void on_buttonBox_rejected();

private:
    static DialogFirmwareUpdate* windowOf(Hart::ParserMasterFirmwareUpdate* update)
    {
        return static_cast<DialogFirmwareUpdate*>(update);
    }
    static std::uint32_t beginImage(Hart::ParserMasterFirmwareUpdate* update);
    static void readImage(Hart::ParserMasterFirmwareUpdate* update, std::uint32_t offset, std::uint8_t* destination,
                          std::uint32_t length);
    static void showProgress(Hart::ParserMasterFirmwareUpdate* update, std::uint32_t nextOffset);

    std::uint32_t imageSize();
    void readChunkAt(std::uint32_t offset, std::uint8_t* destination, std::uint32_t length);
    void progressTo(std::uint32_t offset);
    void stopTransfer();
    void closeImage();
    // The transfer runs inside the engine's timer tick; its final box waits until that is over.
    void reportEnd(bool success, const QString& text);
    int barValue(std::uint32_t offset) const { return int(offset >> barShift); }
    // The bar's text: the percentage and, once the device has taken some of the image, the
    // time left at the rate it has taken it so far.
    void showTimeLeft(std::uint32_t offset);

    Ui::DialogFirmwareUpdate* ui = nullptr;
    FirmwareUpdateOwner owner;
    std::unique_ptr<QFile> file;
    // The bar counts in ints: an image of 2 GiB or more is shown in coarser steps.
    unsigned barShift = 0;
    // Where and when (the frame layer's clock) the rate is measured from; no offset yet at first.
    bool rateStarted = false;
    std::uint32_t rateFromOffset = 0;
    std::uint32_t rateFromTick = 0;
};
