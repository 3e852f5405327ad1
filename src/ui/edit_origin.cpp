#include "ui/edit_origin.h"

void EditOrigin::start(const QVariantList& stored)
{
    origin_ = expected_ = stored;
    open_ = true;
}

void EditOrigin::wrote(const QVariantList& values)
{
    expected_ = values;
}

void EditOrigin::close()
{
    origin_.clear();
    expected_.clear();
    open_ = false;
}

bool EditOrigin::changedElsewhere(const QVariantList& stored) const
{
    return open_ && stored != expected_;
}

bool EditOrigin::changedByOperator(const QVariantList& edited) const
{
    return edited != origin_;
}

QVariantList EditOrigin::rebase(const QVariantList& edited, const QVariantList& stored)
{
    QVariantList shown = stored;
    // A field the origin does not hold counts as the operator's.
    for (int i = 0; i < shown.size() && i < edited.size(); ++i)
        if (i >= origin_.size() || edited.at(i) != origin_.at(i))
            shown[i] = edited.at(i);
    start(stored);
    return shown;
}
