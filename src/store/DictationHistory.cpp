#include "store/DictationHistory.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"
#include "core/ExactJson.h"
#include "core/LeadingCharacters.h"
#include "store/DictationPreferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr int fileVersion = 1;

QString deliveryName(DictationHistory::Delivery delivery)
{
    switch (delivery) {
    case DictationHistory::Delivery::pasted:
        return QStringLiteral("pasted");
    case DictationHistory::Delivery::copied:
        return QStringLiteral("copied");
    case DictationHistory::Delivery::failed:
        return QStringLiteral("failed");
    }
    return {};
}

std::optional<DictationHistory::Delivery> deliveryNamed(const QString &name)
{
    for (const auto delivery : {DictationHistory::Delivery::pasted, DictationHistory::Delivery::copied,
                                DictationHistory::Delivery::failed}) {
        if (deliveryName(delivery) == name)
            return delivery;
    }
    return std::nullopt;
}

} // namespace

DictationHistory::DictationHistory(DictationPreferences &preferences, QString filePath, QObject *parent)
    : QObject(parent), m_preferences(preferences), m_filePath(std::move(filePath))
{
    if (m_preferences.saveHistory())
        load();
    connect(&m_preferences, &DictationPreferences::saveHistoryChanged, this, [this](bool save) {
        if (save)
            this->save();
        else
            deleteFile();
    });
}

QString DictationHistory::defaultFilePath()
{
    return AppIdentity::dataDirectory() + QStringLiteral("/dictation-history.json");
}

std::optional<DictationHistory::Entry> DictationHistory::newest() const
{
    if (m_entries.isEmpty())
        return std::nullopt;
    return m_entries.first();
}

void DictationHistory::record(const QString &text, Delivery delivery)
{
    if (text.isEmpty())
        return;
    m_entries.prepend(Entry{m_nextId++, text, QDateTime::currentDateTimeUtc(), characterCount(text), delivery});
    while (m_entries.size() > capacity)
        m_entries.removeLast();
    changedNow();
}

bool DictationHistory::remove(quint64 id)
{
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry &entry) { return entry.id == id; });
    if (found == m_entries.end())
        return false;
    m_entries.erase(found);
    changedNow();
    return true;
}

void DictationHistory::clear()
{
    if (m_entries.isEmpty())
        return;
    m_entries.clear();
    changedNow();
}

void DictationHistory::changedNow()
{
    if (m_preferences.saveHistory())
        save();
    Q_EMIT changed();
}

void DictationHistory::load()
{
    const QFileInfo info(m_filePath);
    if (!info.exists())
        return;
    // Only a plain file of ours: a link, a pipe or a device could point anywhere or block the read.
    if (info.isSymLink() || !info.isFile()) {
        qCWarning(AppLogger::app, "dictation history: %s is not a plain file; not read", qUtf8Printable(m_filePath));
        return;
    }
    if (info.size() > maxFileSize) {
        qCWarning(AppLogger::app, "dictation history: %s is larger than %lld bytes; not read", qUtf8Printable(m_filePath),
                  static_cast<long long>(maxFileSize));
        return;
    }
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(AppLogger::app, "dictation history: cannot read %s: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
        return;
    }
    // The size may have changed since it was looked at: never read more than the bound.
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() > maxFileSize) {
        qCWarning(AppLogger::app, "dictation history: %s grew past the bound while read; not read", qUtf8Printable(m_filePath));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(AppLogger::app, "dictation history: %s does not read as a history; ignored", qUtf8Printable(m_filePath));
        return;
    }
    const QJsonValue entries = document.object().value(QLatin1String("entries"));
    if (!entries.isArray())
        return;
    int skipped = 0;
    for (const QJsonValue &value : entries.toArray()) {
        if (m_entries.size() == capacity)
            break;
        const QJsonObject object = value.toObject();
        const QJsonValue text = object.value(QLatin1String("text"));
        const QJsonValue time = object.value(QLatin1String("time"));
        const auto delivery = deliveryNamed(object.value(QLatin1String("delivery")).toString());
        const QDateTime when = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
        if (!text.isString() || text.toString().isEmpty() || text.toString().size() > maxFileTextLength
            || !when.isValid() || !delivery) {
            ++skipped;
            continue;
        }
        const QString content = text.toString();
        // The length is counted again rather than believed.
        m_entries.append(Entry{m_nextId++, content, when.toUTC(), characterCount(content), *delivery});
    }
    if (skipped > 0)
        qCWarning(AppLogger::app, "dictation history: skipped %d unreadable entries", skipped);
}

bool DictationHistory::prepareFile()
{
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        qCWarning(AppLogger::app, "dictation history: cannot create %s", qUtf8Printable(info.absolutePath()));
        return false;
    }
    // The atomic rewrite takes over the permissions of the file it replaces: make sure that file
    // exists and is the owner's alone before anything is written, so no version of the history is
    // ever readable by others. Anything else at the path (wider permissions, a link) is replaced.
    if (info.exists() || info.isSymLink()) {
        const QFileDevice::Permissions allowed = ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser;
        if (!info.isSymLink() && info.isFile() && info.permissions().testFlags(ownerOnly)
            && !(info.permissions() & ~allowed))
            return true;
        if (!QFile::remove(m_filePath)) {
            qCWarning(AppLogger::app, "dictation history: cannot replace %s", qUtf8Printable(m_filePath));
            return false;
        }
    }
    QFile created(m_filePath);
    if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly)) {
        qCWarning(AppLogger::app, "dictation history: cannot create %s: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(created.errorString()));
        return false;
    }
    return true;
}

void DictationHistory::save()
{
    QJsonArray entries;
    int left = 0;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.text.size() > maxFileTextLength) {
            ++left;
            continue;
        }
        entries.append(QJsonObject{
            {QStringLiteral("text"), entry.text},
            {QStringLiteral("time"), entry.time.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("length"), double(entry.length)},
            {QStringLiteral("delivery"), deliveryName(entry.delivery)},
        });
    }
    if (left > 0)
        qCWarning(AppLogger::app, "dictation history: %d texts longer than %lld characters kept in memory only", left,
                  static_cast<long long>(maxFileTextLength));
    if (!prepareFile())
        return;
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(AppLogger::app, "dictation history: cannot write %s: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
        return;
    }
    const QJsonObject document{{QStringLiteral("version"), fileVersion}, {QStringLiteral("entries"), entries}};
    file.write(QJsonDocument(document).toJson(QJsonDocument::Compact));
    if (!file.commit())
        qCWarning(AppLogger::app, "dictation history: cannot write %s: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
}

void DictationHistory::deleteFile()
{
    const QFileInfo info(m_filePath);
    if (!info.exists() && !info.isSymLink())
        return;
    if (QFile::remove(m_filePath))
        qCInfo(AppLogger::app, "dictation history: file deleted");
    else
        qCWarning(AppLogger::app, "dictation history: cannot delete %s", qUtf8Printable(m_filePath));
}
