#include "ui/tlinguabox.h"

#include "language/languagefiles.h"
#include "language/ttranslator.h"
#include "settings/tinifiles.h"
#include "ui/dialogstyle.h"
#include "ui_tlinguabox.h"

#include <QFile>
#include <QIcon>
#include <QListWidgetItem>
#include <QPixmap>
#include <QResizeEvent>

namespace {

const QString languageFile = QStringLiteral("language.ini");

} // namespace

TLinguaBox::TLinguaBox(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TLinguaBox)
{
    initUiResources();
    ui->setupUi(this);
    setStyleSheet(dialogStyleSheet());
    ui->lblTitle->setText(TTranslator::instance()->translate(QStringLiteral("Selezione lingua")));

    // Only read an existing file: opening a missing one must not leave an empty file behind.
    if (!QFile::exists(languageFile))
        return;

    TIniFiles ini(languageFile, false);
    const int count = LanguageFiles::countLanguages(ini);
    for (int k = 1; k <= count; ++k) {
        const QString section = QStringLiteral("lingua") + QString::number(k);
        const QString name = LanguageFiles::readDisplayName(ini, section, QStringLiteral("description"),
                                                            QStringLiteral("unicodecodecname"));
        const QString image = ini.readString(section, QStringLiteral("image"), QStringLiteral("ita.png"));
        const QPixmap flag(QStringLiteral("./update_flags/") + image);
        const QIcon icon = flag.isNull()
            ? QIcon() // a missing flag gives an item without icon
            : QIcon(flag.scaled(60, 50, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        new QListWidgetItem(icon, name, ui->listWidgetLingua);
    }
    const int current = ini.readInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), 10, 1);
    ui->listWidgetLingua->setCurrentRow(current - 1);
}

TLinguaBox::~TLinguaBox()
{
    delete ui;
}

void TLinguaBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    setMask(roundedRegion(rect()));
}

void TLinguaBox::on_tbOk_clicked()
{
    const QList<QListWidgetItem *> selected = ui->listWidgetLingua->selectedItems();
    // No row chosen: the current language stays (a 0 would name no language at all).
    if (selected.isEmpty()) {
        done(1);
        return;
    }
    const int choice = ui->listWidgetLingua->row(selected.first()) + 1;

    if (QFile::exists(languageFile)) {
        QString file;
        {
            TIniFiles ini(languageFile, false);
            file = ini.readString(QStringLiteral("lingua") + QString::number(choice), QStringLiteral("file"),
                                  QString());
            ini.writeInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), choice);
        } // written back here
        TTranslator::instance()->loadTranslation(QStringLiteral("./") + file);
    }
    done(1);
}

void TLinguaBox::on_tbCancel_clicked()
{
    done(-1);
}
