// The account store: the account list kept as one text value, "Accounts" in
// section "User", seven lines per account, each ended by a line feed:
// name, user name, scrambled password, security, server, newest-message
// marker, type. Older stores with 6, 5 or 4 lines per account are read too.
#pragma once

#include "config/Account.h"
#include "platform/ProfileStore.h"

#include <string>
#include <vector>

// Password scrambling of the stored form: the password reversed, with
// i + 5 subtracted (mod 256) from the byte at position i of the reversed
// text. UnscramblePassword inverts it for every byte value.
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& stored);

// The stored text of a list, in the 7-line layout. The empty list gives the
// empty text.
std::string AccountsToText(const std::vector<CAccount>& accounts);

// Appends the accounts held by a stored text. The layout follows from the
// number c of line feeds alone: 7 lines per account when 7 divides c, else
// 6, 5 or 4 (the first that divides c); nothing when none does. The fields
// a layout lacks get their defaults (6: type empty; 5: marker "0" too;
// 4: security "NORMAL" too). Bytes after the last line feed are ignored.
//
// Because only c decides, a store of 3 accounts in the 4-line layout
// (12 line feeds) reads as 2 accounts in the 6-line layout; stores written
// by earlier versions rely on this rule, so it is kept.
void AccountsFromText(const std::string& text, std::vector<CAccount>& accounts);

// Why an account cannot be stored so that it loads back unchanged: the
// empty text when it can, else a message for the user. A line feed splits
// fields and the settings store cannot hold a zero byte, so neither may
// appear in a stored line; the password is judged by its scrambled form,
// which is what is stored. A carriage return is stored as it is.
std::string AccountStoreProblem(const CAccount& account);

// Appends the accounts of "User"/"Accounts" (default: empty) to accounts.
void LoadAccounts(port::ProfileStore& store, std::vector<CAccount>& accounts);

// Writes the whole list in the 7-line layout, replacing the stored value.
// When any account has an AccountStoreProblem nothing is written, so the
// stored list stays as it was, and the result is false; otherwise the
// result is that of the write.
bool SaveAccounts(port::ProfileStore& store, const std::vector<CAccount>& accounts);

// The n-th account (counted from 1, list order) whose name equals name
// exactly, letter case included; nullptr when there is none.
CAccount* FindAccount(std::vector<CAccount>& accounts, const std::string& name, int n);

// Removes FindAccount(accounts, name, n); false when there is none.
bool RemoveAccount(std::vector<CAccount>& accounts, const std::string& name, int n);
