#include "app/FileTreeShape.h"

bool TFileTreeShape::isFileName(QStringView name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    // A dot that is not the last character: "x.txt" and "x.." qualify, "x." does not.
    return name.first(name.size() - 1).contains(QLatin1Char('.'));
}
