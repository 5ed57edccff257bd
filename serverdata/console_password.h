// The console password change command of the groups page: changes the user-level console
// password file and tells the page what to show.
#pragma once

// What the page shows after the command.
struct ConsoleMessage {
    int messageBox;    // 1: a message box; 0: the page's status line
    const char* text;  // empty: nothing to show (the change succeeded)
    const char* title; // title of the message box; nullptr: the application's name
};

// The host of the command, from the parameter "ProxyServerName", or nullptr; the page checks it
// before it asks for the passwords and shows "\nProxyServerName !" in a message box when absent.
const char* PasswordCommandHost();

// Runs the change of "/l/apache/etc/empasswd" with the typed old, new and confirmation
// passwords (after the page's password dialog was accepted). The lock is always dropped again
// after a failure. Messages: "\nProxyServerName !", "Az ellenorzo password megadasa hibas!"
// ("Hiba !!!"), and on the status line "Konkurens használat !", "Távoli file olvasási hiba !",
// "Lokális file olvasási hiba !", "Hiba a proxy szerveren !", "Hibás jelszó !",
// "Lokális file írási hiba !", "Távoli file írási hiba !".
ConsoleMessage ChangeConsolePasswordCommand(const char* oldPlain, const char* newPlain,
                                            const char* confirm);
