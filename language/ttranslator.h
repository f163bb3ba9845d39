#pragma once

#include <QObject>
#include <QString>

class QTranslator;

/// The single object that installs the translation chosen by the user and
/// translates every text the program builds at run time (context "TTranslator").
class TTranslator : public QObject
{
    Q_OBJECT

public:
    /// The single object, created on the first call; it lives until the
    /// application object is destroyed.
    static TTranslator *instance();

    /// Removes and deletes the installed translation; then, only when a file or
    /// folder exists at path, installs a new one loaded from it (also when
    /// loading fails: such a translation translates nothing).
    void loadTranslation(const QString &path);

    /// The translation of text in the context "TTranslator", or text itself.
    QString translate(const QString &text) const;
    QString translate(const char *utf8Text) const { return translate(QString::fromUtf8(utf8Text)); }

    ~TTranslator() override;

private:
    TTranslator();
    void removeInstalled();

    QTranslator *translator = nullptr;
};
