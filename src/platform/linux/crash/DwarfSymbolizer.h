#pragma once

#include "platform/CrashRecorder.h"

#include <QByteArray>

typedef struct Dwfl Dwfl;

// Symbolises addresses of another (ended) process from the text of its /proc/<pid>/maps: every
// file it had mapped is laid out again at the same addresses, read from disk through libdw, so
// names and source lines come from the binaries' own symbol tables and DWARF. Nothing is fetched
// from elsewhere (no separate debug files, no debuginfod).
class DwarfSymbolizer {
public:
    explicit DwarfSymbolizer(const QByteArray &memoryMap);
    ~DwarfSymbolizer();
    DwarfSymbolizer(const DwarfSymbolizer &) = delete;
    DwarfSymbolizer &operator=(const DwarfSymbolizer &) = delete;

    // `returnAddress`: the address follows a call (every frame but the interrupted one), so the
    // call itself is looked up, not the instruction after it.
    StackFrame symbolize(quint64 address, bool returnAddress) const;

private:
    Dwfl *m_dwfl = nullptr;
};
