#pragma once
// "自定义皮肤": choose the background skin of the main window. Ten entries (默认, 风格1 ..
// 风格9, entry n standing for skin number n) with a preview from "_jpg/fg<n>.jpg"; 保存
// puts the number into "BackSkin" of the shared variables and of the configuration file,
// then offers the restart that makes the main window use it.
//
// The configuration file keeps its form: an encrypted file gets its lines encrypted again
// through the host's line cipher, colour lines ("C_") staying plain; a plain file (first
// line "[Config]") stays plain. A line that cannot be decrypted stops the save before
// anything is written, so no setting is ever lost.
//
// Shown modally by px_Tuner.fStyleSet; every call makes a fresh dialog, freed when it closes.

#include "baseforms/fdbbase.h"

class QLabel;
class QListWidget;

namespace tuner {

class TModalFrame;

class TfStyleSet : public tessera::TfDBBase
{
    Q_OBJECT
public:
    explicit TfStyleSet(QWidget *parent = nullptr);
    ~TfStyleSet() override;

    QListWidget *lstImg;
    QLabel *imgView;
    QToolButton *tbSave;
    QToolButton *tbClose;

    // Fills the list and returns the skin number of "BackSkin" (1 when empty, not a number
    // or outside 1..10). "SkinCount" is read but the list always offers ten entries.
    int FillSkinList();
    // Shows the preview of the selected entry; a missing picture is told to the user and
    // the old picture stays.
    void lstImgClick();
    void actSaveExecute();

    // Sets key=value in the configuration file, keeping its form. A missing file is left
    // alone (returns false). Throws host::UserError when a line cannot be decrypted.
    static bool SaveIniValue(const QString &key, const QString &value);
    // Path of the preview picture of entry n.
    static QString previewPath(int n);

    TModalFrame *frame() const;
    int ShowModal();

protected:
    void FormShow() override;
    void FormClose(bool &freeOnClose) override;

private:
    void restartProgram();

    bool m_filled = false; // the dialog lives for one showing: its list is built once
};

} // namespace tuner
