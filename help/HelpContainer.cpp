#include "HelpContainer.h"

using HelpData::Damaged;
using HelpData::Reader;

namespace {
constexpr qsizetype InternalHeaderSize = 9;
}

void HelpContainer::open(const QByteArray& data)
{
    m_data = data;
    Reader header(data, 4);
    const quint32 directoryStart = header.u32();
    header.skip(4);
    const quint32 declaredSize = header.u32();
    if (declaredSize > quint32(data.size()))
        throw Damaged{}; // cut short
    Reader directoryHeader(data, directoryStart, InternalHeaderSize);
    directoryHeader.skip(4);
    const quint32 used = directoryHeader.u32();
    walkHelpBtree(Reader(data, directoryStart + InternalHeaderSize, used).bytes(used), [this](Reader& entry) {
        const QByteArray name = entry.stringz();
        m_directory.emplace(name, qsizetype(entry.u32()));
    });
}

QByteArray HelpContainer::file(const QByteArray& name) const
{
    const auto found = m_directory.find(name);
    if (found == m_directory.end())
        return {};
    Reader header(m_data, found->second, InternalHeaderSize);
    header.skip(4);
    const quint32 used = header.u32();
    return Reader(m_data, found->second + InternalHeaderSize, used).bytes(used);
}

void walkHelpBtree(const QByteArray& tree, const std::function<void(Reader&)>& readEntry)
{
    Reader header(tree);
    if (header.u16() != 0x293B)
        throw Damaged{};
    header.skip(2); // flags
    const qsizetype pageSize = header.u16();
    header.skip(16 + 2 + 2); // structure, must-be-zero, page splits
    const qint16 rootPage = header.s16();
    header.skip(2);
    const qint16 totalPages = header.s16();
    const qint16 levels = header.s16();
    header.skip(4);
    if (totalPages <= 0 || levels <= 0)
        return; // an empty tree
    if (pageSize < 8 || levels > 32)
        throw Damaged{};
    const qsizetype firstPage = header.pos();
    auto page = [&](qint16 number) {
        if (number < 0 || number >= totalPages)
            throw Damaged{};
        return Reader(tree, firstPage + number * pageSize, pageSize);
    };

    qint16 current = rootPage;
    for (int level = 1; level < levels; ++level) {
        Reader index = page(current);
        index.skip(4);
        current = index.s16(); // the child for keys below the first key leads to the first leaf
    }
    for (int visited = 0; current != -1; ++visited) {
        if (visited >= totalPages)
            throw Damaged{}; // a loop in the leaf chain
        Reader leaf = page(current);
        leaf.skip(2);
        const qint16 entries = leaf.s16();
        leaf.skip(2);
        const qint16 next = leaf.s16();
        if (entries < 0)
            throw Damaged{};
        for (int i = 0; i < entries; ++i)
            readEntry(leaf);
        current = next;
    }
}
