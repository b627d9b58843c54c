#include "Pactl.h"

#include <QTest>

QString Pactl::run(const QStringList &arguments, bool *ok)
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), arguments);
    const bool finished = pactl.waitForFinished(10000);
    if (ok)
        *ok = finished && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

int Pactl::loadModule(const QString &module, const QStringList &arguments)
{
    bool ok = false;
    const QString index = run(QStringList{QStringLiteral("load-module"), module} + arguments, &ok);
    bool numeric = false;
    const int value = index.toInt(&numeric);
    return ok && numeric ? value : -1;
}

bool Pactl::unloadModule(int index)
{
    bool ok = false;
    run({QStringLiteral("unload-module"), QString::number(index)}, &ok);
    return ok;
}

int Pactl::loadPipeSource(const QString &name, const QString &fifo, const QString &format, int rate, int channels,
                          const QString &properties)
{
    QStringList arguments{QStringLiteral("source_name=") + name, QStringLiteral("file=") + fifo,
                          QStringLiteral("format=") + format, QStringLiteral("rate=%1").arg(rate),
                          QStringLiteral("channels=%1").arg(channels)};
    if (!properties.isEmpty())
        arguments << QStringLiteral("source_properties=\"%1\"").arg(properties);
    return loadModule(QStringLiteral("module-pipe-source"), arguments);
}

bool Pactl::setDefaultSource(const QString &name)
{
    bool ok = false;
    run({QStringLiteral("set-default-source"), name}, &ok);
    return ok;
}

int Pactl::sourceIndex(const QString &name)
{
    // index <TAB> name <TAB> driver <TAB> sample spec <TAB> state
    const QStringList lines = run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() > 1 && fields.at(1) == name)
            return fields.at(0).toInt();
    }
    return -1;
}

QList<int> Pactl::recordingSources()
{
    // index <TAB> source index <TAB> client <TAB> driver <TAB> sample spec
    const QStringList lines = run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")})
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QList<int> sources;
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() > 1)
            sources << fields.at(1).toInt();
    }
    return sources;
}

bool Pactl::hasSample(const QString &name)
{
    // Lines of index, name, sample spec, ...
    return run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("samples")}).contains(u'\t' + name + u'\t');
}

SinkInputWatch::SinkInputWatch()
{
    m_pactl.start(QStringLiteral("pactl"), {QStringLiteral("subscribe")});
    m_pactl.waitForStarted();
    // pactl prints nothing before its subscription stands; give it a moment.
    QTest::qWait(300);
}

SinkInputWatch::~SinkInputWatch()
{
    m_pactl.kill();
    m_pactl.waitForFinished();
}

int SinkInputWatch::count()
{
    m_seen += QString::fromUtf8(m_pactl.readAllStandardOutput());
    return int(m_seen.count(QStringLiteral("Event 'new' on sink-input")));
}
