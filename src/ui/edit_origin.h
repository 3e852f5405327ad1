#pragma once
#include <QVariantList>

// What an open editor started from. PC tools, the panel and the box itself write the same
// settings: an editor's confirm writes only what the operator changed, and only while the store
// still holds what the editor started from (or last wrote itself); BACK puts the start back only
// under the same condition. Values are compared field by field, in the order the page gives them.
class EditOrigin {
public:
    void start(const QVariantList& stored); // the editor opens on these stored values
    void wrote(const QVariantList& values); // the editor itself wrote these (pages that apply each step)
    void close();
    bool isOpen() const { return open_; }
    const QVariantList& origin() const { return origin_; }

    // The store holds neither the start nor the editor's own last write: another writer changed it.
    bool changedElsewhere(const QVariantList& stored) const;
    // The operator's values differ from the start in some field.
    bool changedByOperator(const QVariantList& edited) const;
    // Starts again from `stored`: each field the operator left as it was takes the stored value,
    // each one they changed keeps theirs. Returns the values to show.
    QVariantList rebase(const QVariantList& edited, const QVariantList& stored);

private:
    QVariantList origin_;
    QVariantList expected_; // what the store holds unless another writer came
    bool open_ = false;
};
