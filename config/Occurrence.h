// The occurrence rule of the main window's lists: a sorted list box shows
// the records' texts, while the records keep insertion order, and texts need
// not be unique. The n-th item with a given text (n counted from the top)
// stands for the n-th record with exactly that text (letter case counts) in
// list order.
#pragma once

#include <string>
#include <vector>

// The n-th record (n from 1, list order) whose member equals text exactly;
// nullptr when there is none.
template <class Record>
Record* FindNthRecord(std::vector<Record>& records, std::string Record::*member,
                      const std::string& text, int n) {
    if (n < 1)
        return nullptr;
    for (Record& record : records) {
        if (record.*member == text && --n == 0)
            return &record;
    }
    return nullptr;
}

// Removes FindNthRecord(records, member, text, n); false when there is none.
template <class Record>
bool RemoveNthRecord(std::vector<Record>& records, std::string Record::*member,
                     const std::string& text, int n) {
    Record* record = FindNthRecord(records, member, text, n);
    if (record == nullptr)
        return false;
    records.erase(records.begin() + (record - records.data()));
    return true;
}
