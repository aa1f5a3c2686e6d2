#pragma once

// Qt's own texts in Portuguese: the context menus of the text panes and the
// edit boxes, the standard buttons of dialogs and message boxes.

class QCoreApplication;

// Loads Qt's Brazilian Portuguese translation (Debian package
// qt6-translations-l10n) into the application, once. False when it is not
// installed; Qt's texts stay in English then and nothing else changes.
bool CarregarTraducaoDoQt(QCoreApplication &App);
