#pragma once

#include "platform/commondialog.h"

#include <QStringList>

/// The file dialog over QFileDialog.
class QtCommonDialog : public CommonDialog
{
public:
    void setFilter(const QString &filter) override;
    void setDialogTitle(const QString &title) override { m_title = title; }
    void setCancelError(bool on) override { m_cancelError = on; }
    bool showOpen(QWidget *parent) override;
    bool showSave(QWidget *parent) override;
    QString fileName() const override { return m_fileName; }

    /// "label|pattern|label|pattern" as the name filters QFileDialog shows.
    static QStringList nameFilters(const QString &filter);

private:
    bool show(QWidget *parent, bool save);

    QStringList m_nameFilters;
    QString m_title;
    QString m_fileName;
    bool m_cancelError = false;
};
