<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>KalvexMainWindow</name>
    <message>
        <source>Kalvex</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>Select Input Files</source>
        <translation>Eingabedateien auswählen</translation>
    </message>
    <message>
        <source>Images (*.jpg *.jpeg *.png *.gif *.cin *.dpx *.ppm *.pgm *.pnm *.tga *.tiff *.tif *.bmp);;Video (*.avi *.mov *.mkv *.mpg *.mpeg *.wmv *.m1v *.m2v *.mp4 *.ts *.mts);;All Files (*)</source>
        <translation>Bilder (*.jpg *.jpeg *.png *.gif *.cin *.dpx *.ppm *.pgm *.pnm *.tga *.tiff *.tif *.bmp);;Video (*.avi *.mov *.mkv *.mpg *.mpeg *.wmv *.m1v *.m2v *.mp4 *.ts *.mts);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Save As...</source>
        <translation>Speichern unter...</translation>
    </message>
    <message>
        <source>Project Files (*.kpz);;All Files (*)</source>
        <translation>Projektdateien (*.kpz);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Open Project...</source>
        <translation>Projekt öffnen...</translation>
    </message>
    <message>
        <source>Project (*.kpz);;All Files (*)</source>
        <translation>Projekt (*.kpz);;Alle Dateien (*)</translation>
    </message>
</context>
<context>
    <name>QMessageBox</name>
    <message>
        <source>A new version of Kalvex is available, please update to Kalvex </source>
        <translation>Eine neue Version von Kalvex ist verfügbar, bitte aktualisieren Sie auf Kalvex </translation>
    </message>
    <message>
        <source>You can find the download at: </source>
        <translation>Sie finden den Download unter: </translation>
    </message>
    <message>
        <source>The server&apos;s answer could not be read.</source>
        <translation>Die Antwort des Servers konnte nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The server&apos;s answer does not name this program.</source>
        <translation>Die Antwort des Servers nennt dieses Programm nicht.</translation>
    </message>
    <message>
        <source>No updates available</source>
        <translation>Keine Aktualisierungen verfügbar</translation>
    </message>
    <message>
        <source>Your version of Kalvex is up to date</source>
        <translation>Ihre Version von Kalvex ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Aktualisierung verfügbar</translation>
    </message>
    <message>
        <source>Update check failed</source>
        <translation>Suche nach Aktualisierungen fehlgeschlagen</translation>
    </message>
    <message>
        <source>Could not check for updates.</source>
        <translation>Es konnte nicht nach Aktualisierungen gesucht werden.</translation>
    </message>
</context>
<context>
    <name>qCommandLineWindow</name>
    <message>
        <source>Command line output</source>
        <translation>Ausgabe der Kommandozeile</translation>
    </message>
</context>
<context>
    <name>qExportUndistImages</name>
    <message>
        <source>Export Undistorted Images</source>
        <translation>Entzerrte Bilder exportieren</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Optionen</translation>
    </message>
    <message>
        <source>Directory:</source>
        <translation>Verzeichnis:</translation>
    </message>
    <message>
        <source>Output directory</source>
        <translation>Ausgabeverzeichnis</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Browse directory tree</source>
        <translation>Verzeichnisbaum durchsuchen</translation>
    </message>
    <message>
        <source>Base Name:</source>
        <translation>Basisname:</translation>
    </message>
    <message>
        <source>Base filename (number of frame will be appended as suffix)</source>
        <translation>Basis-Dateiname (die Bildnummer wird angehängt)</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>Choose export format</source>
        <translation>Exportformat wählen</translation>
    </message>
    <message>
        <source>Resulting file mask:</source>
        <translation>Resultierende Dateimaske:</translation>
    </message>
    <message>
        <source>Export progress</source>
        <translation>Exportfortschritt</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>Start exporting the image sequence</source>
        <translation>Export der Bildsequenz starten</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Close export window</source>
        <translation>Exportfenster schließen</translation>
    </message>
    <message>
        <source>TGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PPM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PNG</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export refused</source>
        <translation>Export abgelehnt</translation>
    </message>
    <message>
        <source>The frames %1 and %2 would both be written to &quot;%3&quot;.
Nothing was written.</source>
        <translation>Die Bilder %1 und %2 würden beide nach „%3“ geschrieben.
Es wurde nichts geschrieben.</translation>
    </message>
    <message>
        <source>Overwrite</source>
        <translation>Überschreiben</translation>
    </message>
    <message>
        <source>File already &quot;%1&quot; exists
Continue?</source>
        <translation>Die Datei „%1“ existiert bereits
Fortfahren?</translation>
    </message>
    <message>
        <source>Export failed</source>
        <translation>Export fehlgeschlagen</translation>
    </message>
    <message>
        <source>Exporting of undistorted images failed at frame %1: &quot;%2&quot; could not be made (the log says why).
%3 of %4 images were written.</source>
        <translation>Der Export der entzerrten Bilder ist bei Bild %1 fehlgeschlagen: „%2“ konnte nicht erstellt werden (das Protokoll nennt den Grund).
%3 von %4 Bildern wurden geschrieben.</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Exporting of undistorted images stopped.
%1 of %2 images were written.</source>
        <translation>Der Export der entzerrten Bilder wurde angehalten.
%1 von %2 Bildern wurden geschrieben.</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Exporting of undistorted images successful</source>
        <translation>Export der entzerrten Bilder erfolgreich</translation>
    </message>
</context>
<context>
    <name>qExtras</name>
    <message>
        <source>Current project data will be lost.</source>
        <translation>Die aktuellen Projektdaten gehen verloren.</translation>
    </message>
    <message>
        <source>Do you want to save your project?</source>
        <translation>Möchten Sie Ihr Projekt speichern?</translation>
    </message>
    <message>
        <source>Save project: </source>
        <translation>Projekt speichern: </translation>
    </message>
    <message>
        <source>Saving project failed
</source>
        <translation>Speichern des Projekts fehlgeschlagen
</translation>
    </message>
    <message>
        <source>Kalvex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open project failed
</source>
        <translation>Öffnen des Projekts fehlgeschlagen
</translation>
    </message>
    <message>
        <source>Open project: </source>
        <translation>Projekt öffnen: </translation>
    </message>
</context>
<context>
    <name>qHelpViewer</name>
    <message>
        <source>Kalvex Help</source>
        <translation>Kalvex-Hilfe</translation>
    </message>
    <message>
        <source>&lt;h3&gt;No help pages found&lt;/h3&gt;&lt;p&gt;The help page &quot;%1&quot; is not installed. It was looked for in:&lt;/p&gt;&lt;ul&gt;%2&lt;/ul&gt;</source>
        <translation>&lt;h3&gt;Keine Hilfeseiten gefunden&lt;/h3&gt;&lt;p&gt;Die Hilfeseite „%1“ ist nicht installiert. Gesucht wurde in:&lt;/p&gt;&lt;ul&gt;%2&lt;/ul&gt;</translation>
    </message>
    <message>
        <source>Help page &quot;%1&quot; not found</source>
        <translation>Hilfeseite „%1“ nicht gefunden</translation>
    </message>
</context>
<context>
    <name>qInteractivHelpDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>&lt;p style=&quot;font-size:8pt&quot;&gt;Interactive help.&lt;/p&gt;&lt;p style=&quot;font-size:8pt&quot;&gt;Hints for the current step appear here.&lt;/p&gt;</source>
        <translation>&lt;p style=&quot;font-size:8pt&quot;&gt;Interaktive Hilfe.&lt;/p&gt;&lt;p style=&quot;font-size:8pt&quot;&gt;Hinweise zum aktuellen Schritt erscheinen hier.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>qLoadSequenceDialog</name>
    <message>
        <source>Load Sequence</source>
        <translation>Sequenz laden</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>Pfad:</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Properties</source>
        <translation>Eigenschaften</translation>
    </message>
    <message>
        <source>Mask:</source>
        <translation>Maske:</translation>
    </message>
    <message>
        <source>Start:</source>
        <translation>Anfang:</translation>
    </message>
    <message>
        <source>End:</source>
        <translation>Ende:</translation>
    </message>
    <message>
        <source>Only load range</source>
        <translation>Nur Bereich laden</translation>
    </message>
    <message>
        <source>Enable this checkbox, if you only want to load the imges in the given range.</source>
        <translation>Aktivieren Sie dieses Feld, wenn nur die Bilder im angegebenen Bereich geladen werden sollen.</translation>
    </message>
    <message>
        <source>Total:</source>
        <translation>Gesamt:</translation>
    </message>
    <message>
        <source>Interlacing:</source>
        <translation>Zeilensprung:</translation>
    </message>
    <message>
        <source>Change the sequence interlacing mode</source>
        <translation>Zeilensprungverfahren der Sequenz ändern</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Progressive</source>
        <translation>Progressiv</translation>
    </message>
    <message>
        <source>Upper Field</source>
        <translation>Oberes Halbbild</translation>
    </message>
    <message>
        <source>Lower Field</source>
        <translation>Unteres Halbbild</translation>
    </message>
    <message>
        <source>Both Fields (upper first)</source>
        <translation>Beide Halbbilder (oberes zuerst)</translation>
    </message>
    <message>
        <source>Both Fields (lower first)</source>
        <translation>Beide Halbbilder (unteres zuerst)</translation>
    </message>
    <message>
        <source>No preview image available!</source>
        <translation>Kein Vorschaubild verfügbar!</translation>
    </message>
</context>
</TS>
