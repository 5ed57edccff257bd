// The page registry's look-ups.
#include "app/page_registry.h"

const PageEntry* PageRegistry::find(int group, int page) const {
    for (const PageEntry& entry : pages)
        if (entry.group == group && entry.page == page) return &entry;
    return nullptr;
}

const PageEntry* PageRegistry::find(PageRole role) const {
    for (const PageEntry& entry : pages)
        if (entry.role == role) return &entry;
    return nullptr;
}

int PageRegistry::pageCount(int group) const {
    int count = 0;
    for (const PageEntry& entry : pages)
        if (entry.group == group) ++count;
    return count;
}

QString PageRegistry::title(int group, int page) const {
    const PageEntry* entry = find(group, page);
    return entry ? QString::fromUtf8(entry->title) : QString();
}
