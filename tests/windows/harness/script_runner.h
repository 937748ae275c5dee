// Runs the console script's commands against the session and writes what
// the console shows: the scope tree, result rows, menus, and (through the
// dialog answerer) the dialogs and messages it met.
//
//   expand PATH [all]        tell the snap-in of the node's expansion (with
//                            "all", of every node below it too, as found)
//   tree [PATH]              the names below the node as far as expanded
//   show PATH                select it; its rows "Name  Value" (or "page NAME")
//   list PATH                select it; every column, " | " between cells
//   verbs PATH               select it; the verbs it enables (default: *)
//   refresh PATH             the refresh verb
//   menu PATH                its context menu: "ID  Name", "-" a separator
//   menu PATH "Item"         runs the menu command of that name
//   command PATH ID          runs the menu command by its id
//   rename PATH NAME         renames the node as the console's edit does
//   answer BUTTON [ID=text] [+ID] [-ID]   answers the next dialog
//   save FILE / load FILE    the snap-in's stream to a file / a new instance from it
//   dirty                    "dirty yes" or "dirty no"
//   echo TEXT                the text itself
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dialog_answers.h"
#include "session.h"

class ScriptRunner {
public:
    using Print = std::function<void(const std::string& line)>;

    ScriptRunner(ConsoleSession& session, DialogAnswerer& answerer, Print print);
    // One script line; false (with the error printed) when it failed.
    bool Run(const std::string& line, int number);
    // After the last line: answers no dialog took are an error.
    bool Finish();

private:
    bool Execute(const std::vector<std::string>& words, std::string& error);
    HSCOPEITEM Node(const std::string& path, std::string& error);
    HRESULT ExpandAll(HSCOPEITEM item);
    void PrintTree(HSCOPEITEM item, int depth);
    bool Show(HSCOPEITEM item, bool allColumns);
    bool Menu(HSCOPEITEM item, const std::vector<std::string>& words, std::string& error);

    ConsoleSession& m_session;
    DialogAnswerer& m_answerer;
    Print m_print;
};
