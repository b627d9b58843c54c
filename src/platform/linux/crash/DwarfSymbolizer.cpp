#include "platform/linux/crash/DwarfSymbolizer.h"

#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <elfutils/libdwfl.h>

namespace {

// Separate debug files are not looked for: the main file's own tables and DWARF are used.
int noSeparateDebugInfo(Dwfl_Module *, void **, const char *, Dwarf_Addr, const char *, const char *, GElf_Word,
                        char **)
{
    return -1;
}

const Dwfl_Callbacks callbacks = {
    dwfl_linux_proc_find_elf,
    noSeparateDebugInfo,
    nullptr,
    nullptr,
};

QString demangled(const char *name)
{
    int status = -1;
    char *readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    const QString result = QString::fromUtf8(status == 0 && readable ? readable : name);
    std::free(readable);
    return result;
}

} // namespace

DwarfSymbolizer::DwarfSymbolizer(const QByteArray &memoryMap)
{
    m_dwfl = dwfl_begin(&callbacks);
    if (!m_dwfl || memoryMap.isEmpty())
        return;
    QByteArray text = memoryMap;
    FILE *stream = fmemopen(text.data(), size_t(text.size()), "r");
    if (!stream)
        return;
    dwfl_report_begin(m_dwfl);
    dwfl_linux_proc_maps_report(m_dwfl, stream);
    dwfl_report_end(m_dwfl, nullptr, nullptr);
    std::fclose(stream);
}

DwarfSymbolizer::~DwarfSymbolizer()
{
    if (m_dwfl)
        dwfl_end(m_dwfl);
}

StackFrame DwarfSymbolizer::symbolize(quint64 address, bool returnAddress) const
{
    StackFrame frame;
    frame.address = address;
    if (!m_dwfl || address == 0)
        return frame;
    const Dwarf_Addr lookup = returnAddress ? address - 1 : address;
    Dwfl_Module *module = dwfl_addrmodule(m_dwfl, lookup);
    if (!module)
        return frame;

    Dwarf_Addr start = 0;
    const char *name = dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
    frame.image = QString::fromUtf8(name ? name : "");
    frame.imageOffset = address - start;

    GElf_Off offset = 0;
    GElf_Sym symbol{};
    if (const char *symbolName = dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr)) {
        frame.symbol = demangled(symbolName);
        frame.symbolOffset = offset + (address - lookup);
    }
    if (Dwfl_Line *line = dwfl_module_getsrc(module, lookup)) {
        int lineNumber = 0;
        if (const char *file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr)) {
            frame.sourceFile = QString::fromUtf8(file);
            frame.line = lineNumber;
        }
    }
    return frame;
}
