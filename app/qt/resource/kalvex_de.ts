<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
    <context>
        <name>KalvexMainWindow</name>
        <message>
            <source>Kalvex</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>New</source>
            <translation>Neu</translation>
        </message>
        <message>
            <source>...</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Load Project</source>
            <translation>Projekt laden</translation>
        </message>
        <message>
            <source>Save Project As</source>
            <translation>Projekt speichern unter</translation>
        </message>
        <message>
            <source>Save Project</source>
            <translation>Projekt speichern</translation>
        </message>
        <message>
            <source>Toggle Selection Mode (Rectangle/Circle)</source>
            <translation>Auswahlmodus umschalten (Rechteck/Kreis)</translation>
        </message>
        <message>
            <source>Undo</source>
            <translation>Rückgängig</translation>
        </message>
        <message>
            <source>Redo</source>
            <translation>Wiederholen</translation>
        </message>
        <message>
            <source>Help</source>
            <translation>Hilfe</translation>
        </message>
        <message>
            <source>1. Sequence</source>
            <translation>1. Sequenz</translation>
        </message>
        <message>
            <source>Load Sequence</source>
            <translation>Sequenz laden</translation>
        </message>
        <message>
            <source>Load a new image sequence</source>
            <translation>Eine neue Bildsequenz laden</translation>
        </message>
        <message>
            <source>Properties</source>
            <translation>Eigenschaften</translation>
        </message>
        <message>
            <source>Aspect Ratio</source>
            <translation>Seitenverhältnis</translation>
        </message>
        <message>
            <source>Change the sequence aspect ratio</source>
            <translation>Seitenverhältnis der Sequenz ändern</translation>
        </message>
        <message>
            <source>Resolution</source>
            <translation>Auflösung</translation>
        </message>
        <message>
            <source>x</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Framerate</source>
            <translation>Bildrate</translation>
        </message>
        <message>
            <source>Change the sequence framerate</source>
            <translation>Bildrate der Sequenz ändern</translation>
        </message>
        <message>
            <source> fps</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Interlacing</source>
            <translation>Zeilensprung</translation>
        </message>
        <message>
            <source>Change the sequence interlacing mode</source>
            <translation>Zeilensprungverfahren der Sequenz ändern</translation>
        </message>
        <message>
            <source>Format</source>
            <translation>Format</translation>
        </message>
        <message>
            <source>Displays the sequence format if known</source>
            <translation>Zeigt das Format der Sequenz, falls bekannt</translation>
        </message>
        <message>
            <source>Camera</source>
            <translation>Kamera</translation>
        </message>
        <message>
            <source>Show Tool</source>
            <translation>Werkzeug zeigen</translation>
        </message>
        <message>
            <source>Value:</source>
            <translation>Wert:</translation>
        </message>
        <message>
            <source> mm</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>2. Lense Distortion</source>
            <translation>2. Linsenverzeichnung</translation>
        </message>
        <message>
            <source>Reference Line Tool</source>
            <translation>Referenzlinien-Werkzeug</translation>
        </message>
        <message>
            <source>Add Line</source>
            <translation>Linie hinzufügen</translation>
        </message>
        <message>
            <source>Add a new reference line</source>
            <translation>Eine neue Referenzlinie hinzufügen</translation>
        </message>
        <message>
            <source>Delete All Lines</source>
            <translation>Alle Linien löschen</translation>
        </message>
        <message>
            <source>Delete all reference lines</source>
            <translation>Alle Referenzlinien löschen</translation>
        </message>
        <message>
            <source>Distortion Adjustment</source>
            <translation>Verzeichnung einstellen</translation>
        </message>
        <message>
            <source>-</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Adjust distortion value by dragging slider to either side</source>
            <translation>Verzeichnung durch Ziehen des Schiebereglers nach einer Seite einstellen</translation>
        </message>
        <message>
            <source>+</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Current Value</source>
            <translation>Aktueller Wert</translation>
        </message>
        <message>
            <source>Displays the current distortion value</source>
            <translation>Zeigt den aktuellen Verzeichnungswert</translation>
        </message>
        <message>
            <source>Reset to default values</source>
            <translation>Auf Standardwerte zurücksetzen</translation>
        </message>
        <message>
            <source>3. Mask Edit</source>
            <translation>3. Masken bearbeiten</translation>
        </message>
        <message>
            <source>Mask Tool</source>
            <translation>Masken-Werkzeug</translation>
        </message>
        <message>
            <source>New Mask</source>
            <translation>Neue Maske</translation>
        </message>
        <message>
            <source>Create a new polygon mask</source>
            <translation>Eine neue Polygonmaske anlegen</translation>
        </message>
        <message>
            <source>Mask Properties</source>
            <translation>Maskeneigenschaften</translation>
        </message>
        <message>
            <source>Color</source>
            <translation>Farbe</translation>
        </message>
        <message>
            <source>Change color of currently selected polygon mask</source>
            <translation>Farbe der gewählten Polygonmaske ändern</translation>
        </message>
        <message>
            <source>Name</source>
            <translation>Name</translation>
        </message>
        <message>
            <source>Change name of currently selected polygon mask</source>
            <translation>Namen der gewählten Polygonmaske ändern</translation>
        </message>
        <message>
            <source>Transparency</source>
            <translation>Transparenz</translation>
        </message>
        <message>
            <source>Change transparency of currently selected polygon mask</source>
            <translation>Transparenz der gewählten Polygonmaske ändern</translation>
        </message>
        <message>
            <source>Key Frame</source>
            <translation>Schlüsselbild</translation>
        </message>
        <message>
            <source>Previous</source>
            <translation>Vorheriges</translation>
        </message>
        <message>
            <source>Goto previous key frame</source>
            <translation>Zum vorherigen Schlüsselbild</translation>
        </message>
        <message>
            <source>Next</source>
            <translation>Nächstes</translation>
        </message>
        <message>
            <source>Goto next key frame</source>
            <translation>Zum nächsten Schlüsselbild</translation>
        </message>
        <message>
            <source>4. Tracking</source>
            <translation>4. Tracking</translation>
        </message>
        <message>
            <source>Feature Tracking</source>
            <translation>Merkmalsverfolgung</translation>
        </message>
        <message>
            <source>Switch to automatic feature tracking mode</source>
            <translation>Zur automatischen Merkmalsverfolgung wechseln</translation>
        </message>
        <message>
            <source>Automatic</source>
            <translation>Automatisch</translation>
        </message>
        <message>
            <source>Switch to manual feature tracking mode</source>
            <translation>Zur manuellen Merkmalsverfolgung wechseln</translation>
        </message>
        <message>
            <source>Manual</source>
            <translation>Manuell</translation>
        </message>
        <message>
            <source>Max.</source>
            <translation>Max.</translation>
        </message>
        <message>
            <source>Choose maximum number of detected feature points</source>
            <translation>Höchstzahl der erkannten Merkmalspunkte wählen</translation>
        </message>
        <message>
            <source>Density</source>
            <translation>Dichte</translation>
        </message>
        <message>
            <source>Choose density of detected feature points</source>
            <translation>Dichte der erkannten Merkmalspunkte wählen</translation>
        </message>
        <message>
            <source>Sensitivity</source>
            <translation>Empfindlichkeit</translation>
        </message>
        <message>
            <source>Adjust sensitivity of feature point detection</source>
            <translation>Empfindlichkeit der Merkmalserkennung einstellen</translation>
        </message>
        <message>
            <source>Choose if features should be detected on corners or structures</source>
            <translation>Wählen, ob Merkmale an Ecken oder Strukturen erkannt werden</translation>
        </message>
        <message>
            <source>Preview</source>
            <translation>Vorschau</translation>
        </message>
        <message>
            <source>Preview current feature detector settings</source>
            <translation>Vorschau der aktuellen Einstellungen der Merkmalserkennung</translation>
        </message>
        <message>
            <source>Default</source>
            <translation>Standard</translation>
        </message>
        <message>
            <source>Snap to corner</source>
            <translation>An Ecke einrasten</translation>
        </message>
        <message>
            <source>Consistency Check</source>
            <translation>Konsistenzprüfung</translation>
        </message>
        <message>
            <source>Camera Tracking</source>
            <translation>Kameraverfolgung</translation>
        </message>
        <message>
            <source>Keyframe selection mode:</source>
            <translation>Auswahl der Schlüsselbilder:</translation>
        </message>
        <message>
            <source>First Frame</source>
            <translation>Erstes Bild</translation>
        </message>
        <message>
            <source>0 (default)</source>
            <translation>0 (Standard)</translation>
        </message>
        <message>
            <source>Second Frame</source>
            <translation>Zweites Bild</translation>
        </message>
        <message>
            <source>Camera Motion</source>
            <translation>Kamerabewegung</translation>
        </message>
        <message>
            <source>Choose between free and purely rotational camera movement</source>
            <translation>Zwischen freier und rein rotierender Kamerabewegung wählen</translation>
        </message>
        <message>
            <source>Automatically perform the refinement step after finishing the camera tracking process</source>
            <translation>Den Verfeinerungsschritt nach der Kameraverfolgung automatisch ausführen</translation>
        </message>
        <message>
            <source>Perform Refinement After Tracking</source>
            <translation>Nach dem Tracking verfeinern</translation>
        </message>
        <message>
            <source>Skip visualization of tracking progress (may increase speed)</source>
            <translation>Anzeige des Tracking-Fortschritts überspringen (kann schneller sein)</translation>
        </message>
        <message>
            <source>No Visualization</source>
            <translation>Keine Anzeige</translation>
        </message>
        <message>
            <source>Track</source>
            <translation>Verfolgen</translation>
        </message>
        <message>
            <source>Start tracking with the current settings</source>
            <translation>Tracking mit den aktuellen Einstellungen starten</translation>
        </message>
        <message>
            <source>Refine</source>
            <translation>Verfeinern</translation>
        </message>
        <message>
            <source>Start refinement</source>
            <translation>Verfeinerung starten</translation>
        </message>
        <message>
            <source>Stop</source>
            <translation>Stopp</translation>
        </message>
        <message>
            <source>Display current tracking progress (while tracking) and quality of tracking results (after tracking)</source>
            <translation>Zeigt den Fortschritt (während des Trackings) und die Qualität der Ergebnisse (danach)</translation>
        </message>
        <message>
            <source>Enable locator tool</source>
            <translation>Lokator-Werkzeug einschalten</translation>
        </message>
        <message>
            <source>5. Test Scene</source>
            <translation>5. Testszene</translation>
        </message>
        <message>
            <source>Switch between image and scene views</source>
            <translation>Zwischen Bild- und Szenenansicht wechseln</translation>
        </message>
        <message>
            <source>Toggle translation handles</source>
            <translation>Verschiebegriffe ein/aus</translation>
        </message>
        <message>
            <source>Toggle rotation handles</source>
            <translation>Drehgriffe ein/aus</translation>
        </message>
        <message>
            <source>Toggle scale handles</source>
            <translation>Skaliergriffe ein/aus</translation>
        </message>
        <message>
            <source>Free camera mode</source>
            <translation>Freie Kamera</translation>
        </message>
        <message>
            <source>Fix view to currently selected object</source>
            <translation>Ansicht am gewählten Objekt festhalten</translation>
        </message>
        <message>
            <source>Fix view to camera</source>
            <translation>Ansicht an der Kamera festhalten</translation>
        </message>
        <message>
            <source>Scene Objects</source>
            <translation>Szenenobjekte</translation>
        </message>
        <message>
            <source>Add a new scene object</source>
            <translation>Ein neues Szenenobjekt hinzufügen</translation>
        </message>
        <message>
            <source>Add Object</source>
            <translation>Objekt hinzufügen</translation>
        </message>
        <message>
            <source>Import Object</source>
            <translation>Objekt importieren</translation>
        </message>
        <message>
            <source>Export Selected Triangle Mesh</source>
            <translation>Gewähltes Dreiecksnetz exportieren</translation>
        </message>
        <message>
            <source>Object Color</source>
            <translation>Objektfarbe</translation>
        </message>
        <message>
            <source>Choose color for new objects or change color of selected objects</source>
            <translation>Farbe für neue Objekte wählen oder die der gewählten Objekte ändern</translation>
        </message>
        <message>
            <source>Ground Grid Alignment</source>
            <translation>Ausrichtung des Bodengitters</translation>
        </message>
        <message>
            <source>Select Ground Grid</source>
            <translation>Bodengitter wählen</translation>
        </message>
        <message>
            <source>Align Grid To Selection</source>
            <translation>Gitter an Auswahl ausrichten</translation>
        </message>
        <message>
            <source>Align ground grid to currently selected 3D points</source>
            <translation>Bodengitter an den gewählten 3D-Punkten ausrichten</translation>
        </message>
        <message>
            <source>Manual Movement</source>
            <translation>Manuelle Bewegung</translation>
        </message>
        <message>
            <source>Choose objects that react to mouse dragging</source>
            <translation>Objekte wählen, die auf Ziehen mit der Maus reagieren</translation>
        </message>
        <message>
            <source>6. Export</source>
            <translation>6. Export</translation>
        </message>
        <message>
            <source>Switch to 3D export page</source>
            <translation>Zur 3D-Exportseite wechseln</translation>
        </message>
        <message>
            <source>3D-Export</source>
            <translation>3D-Export</translation>
        </message>
        <message>
            <source>Switch to 2D export page</source>
            <translation>Zur 2D-Exportseite wechseln</translation>
        </message>
        <message>
            <source>2D-Export</source>
            <translation>2D-Export</translation>
        </message>
        <message>
            <source>Choose export format</source>
            <translation>Exportformat wählen</translation>
        </message>
        <message>
            <source>Save</source>
            <translation>Speichern</translation>
        </message>
        <message>
            <source>Export the current scene to the selected format</source>
            <translation>Die aktuelle Szene im gewählten Format exportieren</translation>
        </message>
        <message>
            <source>Limit Number of Exported Points to</source>
            <translation>Anzahl exportierter Punkte begrenzen auf</translation>
        </message>
        <message>
            <source>Choose number of 3D points to be exported</source>
            <translation>Anzahl der zu exportierenden 3D-Punkte wählen</translation>
        </message>
        <message>
            <source>Export the Feature Point(s) to the selected format</source>
            <translation>Die Merkmalspunkte im gewählten Format exportieren</translation>
        </message>
        <message>
            <source>Save Undistorted Images</source>
            <translation>Entzerrte Bilder speichern</translation>
        </message>
        <message>
            <source>Save image sequence undistorted by current distortion value</source>
            <translation>Bildsequenz mit dem aktuellen Verzeichnungswert entzerrt speichern</translation>
        </message>
        <message>
            <source>Status</source>
            <translation>Status</translation>
        </message>
        <message>
            <source>File Index</source>
            <translation>Dateiindex</translation>
        </message>
        <message>
            <source>file index of current frame</source>
            <translation>Dateiindex des aktuellen Bildes</translation>
        </message>
        <message>
            <source>Number of Images</source>
            <translation>Anzahl der Bilder</translation>
        </message>
        <message>
            <source>Total number of images in current sequence</source>
            <translation>Gesamtzahl der Bilder der aktuellen Sequenz</translation>
        </message>
        <message>
            <source>Number of 2D Points</source>
            <translation>Anzahl der 2D-Punkte</translation>
        </message>
        <message>
            <source>number of 2D points in current frame</source>
            <translation>Anzahl der 2D-Punkte im aktuellen Bild</translation>
        </message>
        <message>
            <source>Number of 3D Points</source>
            <translation>Anzahl der 3D-Punkte</translation>
        </message>
        <message>
            <source>number of 3D points in current frame</source>
            <translation>Anzahl der 3D-Punkte im aktuellen Bild</translation>
        </message>
        <message>
            <source>Focal Length:</source>
            <translation>Brennweite:</translation>
        </message>
        <message>
            <source>Horiz. Field of View</source>
            <translation>Horiz. Bildwinkel</translation>
        </message>
        <message>
            <source>°</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Vert. Field of View</source>
            <translation>Vert. Bildwinkel</translation>
        </message>
        <message>
            <source>RMSE</source>
            <translation>RMSE</translation>
        </message>
        <message>
            <source>root mean square error of current scene</source>
            <translation>mittlerer quadratischer Fehler der aktuellen Szene</translation>
        </message>
        <message>
            <source> pel</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Track Quality</source>
            <translation>Tracking-Qualität</translation>
        </message>
        <message>
            <source>track quality in percent</source>
            <translation>Tracking-Qualität in Prozent</translation>
        </message>
        <message>
            <source>%</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Settings</source>
            <translation>Einstellungen</translation>
        </message>
        <message>
            <source>General Settings</source>
            <translation>Allgemeine Einstellungen</translation>
        </message>
        <message>
            <source>Use tray icon</source>
            <translation>Symbol im Infobereich verwenden</translation>
        </message>
        <message>
            <source>Interface Language</source>
            <translation>Sprache der Oberfläche</translation>
        </message>
        <message>
            <source>Choose interface language</source>
            <translation>Sprache der Oberfläche wählen</translation>
        </message>
        <message>
            <source>Update</source>
            <translation>Aktualisierung</translation>
        </message>
        <message>
            <source>Automatically check for updates</source>
            <translation>Automatisch nach Aktualisierungen suchen</translation>
        </message>
        <message>
            <source>Check for updates</source>
            <translation>Nach Aktualisierungen suchen</translation>
        </message>
        <message>
            <source>About</source>
            <translation>Über</translation>
        </message>
        <message>
            <source>&lt;!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0//EN" "http://www.w3.org/TR/REC-html40/strict.dtd"&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name="qrichtext" content="1" /&gt;&lt;/head&gt;&lt;body&gt;&lt;p align="center"&gt;Kalvex&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Cone</source>
            <translation>Kegel</translation>
        </message>
        <message>
            <source>Box</source>
            <translation>Quader</translation>
        </message>
        <message>
            <source>Mesh</source>
            <translation>Netz</translation>
        </message>
        <message>
            <source>Add Mesh</source>
            <translation>Netz hinzufügen</translation>
        </message>
        <message>
            <source>Textured Mesh</source>
            <translation>Texturiertes Netz</translation>
        </message>
        <message>
            <source>Add Textured Mesh</source>
            <translation>Texturiertes Netz hinzufügen</translation>
        </message>
        <message>
            <source>Plane</source>
            <translation>Ebene</translation>
        </message>
        <message>
            <source>Add Plane</source>
            <translation>Ebene hinzufügen</translation>
        </message>
        <message>
            <source>Rectangle Selection</source>
            <translation>Rechteckauswahl</translation>
        </message>
        <message>
            <source>Circle Selection</source>
            <translation>Kreisauswahl</translation>
        </message>
        <message>
            <source>Lasso Selection</source>
            <translation>Lassoauswahl</translation>
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
            <source>The server's answer could not be read.</source>
            <translation>Die Antwort des Servers konnte nicht gelesen werden.</translation>
        </message>
        <message>
            <source>The server's answer does not name this program.</source>
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
        <name>Timebar</name>
        <message>
            <source>Form</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Current frame</source>
            <translation>Aktuelles Bild</translation>
        </message>
        <message>
            <source> F</source>
            <comment>current frame</comment>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Set current frame as tracking range start</source>
            <translation>Aktuelles Bild als Anfang des Tracking-Bereichs setzen</translation>
        </message>
        <message>
            <source>Start</source>
            <translation>Anfang</translation>
        </message>
        <message>
            <source>Tracking range start frame</source>
            <translation>Erstes Bild des Tracking-Bereichs</translation>
        </message>
        <message>
            <source> F</source>
            <comment>start frame</comment>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Set current frame as tracking range end</source>
            <translation>Aktuelles Bild als Ende des Tracking-Bereichs setzen</translation>
        </message>
        <message>
            <source>End</source>
            <translation>Ende</translation>
        </message>
        <message>
            <source>Tracking range end frame</source>
            <translation>Letztes Bild des Tracking-Bereichs</translation>
        </message>
        <message>
            <source> F</source>
            <comment>end frame</comment>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Show Error Bar</source>
            <translation>Fehlerbalken zeigen</translation>
        </message>
        <message>
            <source>Go to first frame</source>
            <translation>Zum ersten Bild</translation>
        </message>
        <message>
            <source>Go to previous frame</source>
            <translation>Zum vorherigen Bild</translation>
        </message>
        <message>
            <source>Play backward</source>
            <translation>Rückwärts abspielen</translation>
        </message>
        <message>
            <source>Play forward</source>
            <translation>Vorwärts abspielen</translation>
        </message>
        <message>
            <source>Go to next frame</source>
            <translation>Zum nächsten Bild</translation>
        </message>
        <message>
            <source>Go to last frame</source>
            <translation>Zum letzten Bild</translation>
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
            <translation type="unfinished" />
        </message>
        <message>
            <source>PPM</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>PNG</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Export refused</source>
            <translation>Export abgelehnt</translation>
        </message>
        <message>
            <source>The frames %1 and %2 would both be written to "%3".
Nothing was written.</source>
            <translation>Die Bilder %1 und %2 würden beide nach „%3“ geschrieben.
Es wurde nichts geschrieben.</translation>
        </message>
        <message>
            <source>Overwrite</source>
            <translation>Überschreiben</translation>
        </message>
        <message>
            <source>File already "%1" exists
Continue?</source>
            <translation>Die Datei „%1“ existiert bereits
Fortfahren?</translation>
        </message>
        <message>
            <source>Export failed</source>
            <translation>Export fehlgeschlagen</translation>
        </message>
        <message>
            <source>Exporting of undistorted images failed at frame %1: "%2" could not be made (the log says why).
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
            <translation type="unfinished" />
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
            <source>&lt;h3&gt;No help pages found&lt;/h3&gt;&lt;p&gt;The help page "%1" is not installed. It was looked for in:&lt;/p&gt;&lt;ul&gt;%2&lt;/ul&gt;</source>
            <translation>&lt;h3&gt;Keine Hilfeseiten gefunden&lt;/h3&gt;&lt;p&gt;Die Hilfeseite „%1“ ist nicht installiert. Gesucht wurde in:&lt;/p&gt;&lt;ul&gt;%2&lt;/ul&gt;</translation>
        </message>
        <message>
            <source>Help page "%1" not found</source>
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
            <source>&lt;p style="font-size:8pt"&gt;Interactive help.&lt;/p&gt;&lt;p style="font-size:8pt"&gt;Hints for the current step appear here.&lt;/p&gt;</source>
            <translation>&lt;p style="font-size:8pt"&gt;Interaktive Hilfe.&lt;/p&gt;&lt;p style="font-size:8pt"&gt;Hinweise zum aktuellen Schritt erscheinen hier.&lt;/p&gt;</translation>
        </message>
    </context>
    <context>
        <name>qKalvexMainWindow</name>
        <message>
            <source>Frame %1 "%2" is %3, the sequence %4 x %5.</source>
            <translation>Bild %1 „%2“ ist %3, die Sequenz %4 x %5.</translation>
        </message>
        <message>
            <source>Frame %1 "%2": %3</source>
            <translation>Bild %1 „%2“: %3</translation>
        </message>
        <message>
            <source>... and %1 more.</source>
            <translation>... und %1 weitere.</translation>
        </message>
        <message>
            <source>No frame of the sequence can be read. Not tracked.

%1</source>
            <translation>Kein Bild der Sequenz kann gelesen werden. Nicht getrackt.

%1</translation>
        </message>
        <message>
            <source>The sequence has frames of different sizes: one camera cannot have shot them. Not tracked.

%1</source>
            <translation>Die Sequenz enthält Bilder unterschiedlicher Größe: Eine Kamera kann sie nicht aufgenommen haben. Nicht getrackt.

%1</translation>
        </message>
        <message numerus="yes">
            <source>%n frame(s) of the sequence cannot be read; they would be tracked as empty pictures.

%1

Track anyway?</source>
            <translation>
                <numerusform>%n Bild der Sequenz kann nicht gelesen werden; es würde als leeres Bild getrackt.

%1

Trotzdem tracken?</numerusform>
                <numerusform>%n Bilder der Sequenz können nicht gelesen werden; sie würden als leere Bilder getrackt.

%1

Trotzdem tracken?</numerusform>
            </translation>
        </message>
        <message>
            <source>N/A</source>
            <translation>k. A.</translation>
        </message>
        <message>
            <source>Time remaining: </source>
            <translation>Verbleibende Zeit: </translation>
        </message>
        <message>
            <source> (Total: </source>
            <translation> (Gesamt: </translation>
        </message>
        <message>
            <source>)</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>Tracking result:

finished with quality </source>
            <translation>Tracking-Ergebnis:

beendet mit Qualität </translation>
        </message>
        <message>
            <source>Tracking finished</source>
            <translation>Tracking beendet</translation>
        </message>
        <message>
            <source>Tracking result:
finished with quality </source>
            <translation>Tracking-Ergebnis:
beendet mit Qualität </translation>
        </message>
        <message>
            <source>Tracking result:

failed to construct scene</source>
            <translation>Tracking-Ergebnis:

Szene konnte nicht erstellt werden</translation>
        </message>
        <message>
            <source>Tracking result:
failed to construct scene</source>
            <translation>Tracking-Ergebnis:
Szene konnte nicht erstellt werden</translation>
        </message>
        <message>
            <source>Please restart Kalvex to apply changes</source>
            <translation>Bitte starten Sie Kalvex neu, um die Änderungen zu übernehmen</translation>
        </message>
        <message>
            <source>Kalvex %1 --- (Update to Kalvex %2 available)</source>
            <translation>Kalvex %1 --- (Aktualisierung auf Kalvex %2 verfügbar)</translation>
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
            <source>Free Move</source>
            <translation>Freie Bewegung</translation>
        </message>
        <message>
            <source>Pure Rotation</source>
            <translation>Reine Rotation</translation>
        </message>
        <message>
            <source>Automatic</source>
            <translation>Automatisch</translation>
        </message>
        <message>
            <source>Manual</source>
            <translation>Manuell</translation>
        </message>
        <message>
            <source>World</source>
            <translation>Welt</translation>
        </message>
        <message>
            <source>Ground Grid</source>
            <translation>Bodengitter</translation>
        </message>
        <message>
            <source>Scene</source>
            <translation>Szene</translation>
        </message>
        <message>
            <source>Structure</source>
            <translation>Struktur</translation>
        </message>
        <message>
            <source>Corner</source>
            <translation>Ecke</translation>
        </message>
        <message>
            <source>No Check</source>
            <translation>Keine Prüfung</translation>
        </message>
        <message>
            <source>Translation</source>
            <translation>Verschiebung</translation>
        </message>
        <message>
            <source>Similarity</source>
            <translation>Ähnlichkeit</translation>
        </message>
        <message>
            <source>Affine</source>
            <translation>Affin</translation>
        </message>
        <message>
            <source>Text File</source>
            <translation>Textdatei</translation>
        </message>
        <message>
            <source>Export all 3D points</source>
            <translation>Alle 3D-Punkte exportieren</translation>
        </message>
        <message>
            <source>Export selected 3D Points only</source>
            <translation>Nur gewählte 3D-Punkte exportieren</translation>
        </message>
        <message>
            <source>Export automatic generated 3D points</source>
            <translation>Automatisch erzeugte 3D-Punkte exportieren</translation>
        </message>
        <message>
            <source>Export Locators only</source>
            <translation>Nur Lokatoren exportieren</translation>
        </message>
        <message>
            <source>English</source>
            <translation>Englisch</translation>
        </message>
        <message>
            <source>German</source>
            <translation>Deutsch</translation>
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
    <context>
        <name>qTimebar</name>
        <message>
            <source>Once</source>
            <translation>Einmal</translation>
        </message>
        <message>
            <source>Loop</source>
            <translation>Schleife</translation>
        </message>
        <message>
            <source>Bounce</source>
            <translation>Hin und her</translation>
        </message>
        <message>
            <source>x0.1</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x0.2</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x0.4</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x0.8</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x1.0</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x2.0</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x4.0</source>
            <translation type="unfinished" />
        </message>
        <message>
            <source>x8.0</source>
            <translation type="unfinished" />
        </message>
    </context>
    <context>
        <name>qTimeline</name>
        <message>
            <source>Reset</source>
            <translation>Zurücksetzen</translation>
        </message>
        <message>
            <source>Reset the time line</source>
            <translation>Zeitleiste zurücksetzen</translation>
        </message>
    </context>
    <context>
        <name>qViewer</name>
        <message>
            <source>Stop</source>
            <translation>Stopp</translation>
        </message>
        <message>
            <source>Track</source>
            <translation>Verfolgen</translation>
        </message>
        <message>
            <source>Refinement</source>
            <translation>Verfeinerung</translation>
        </message>
        <message>
            <source>Add Reference Line</source>
            <translation>Referenzlinie hinzufügen</translation>
        </message>
        <message>
            <source>Delete All Reference Lines</source>
            <translation>Alle Referenzlinien löschen</translation>
        </message>
        <message>
            <source>Add Object</source>
            <translation>Objekt hinzufügen</translation>
        </message>
        <message>
            <source>Cone</source>
            <translation>Kegel</translation>
        </message>
        <message>
            <source>Cube</source>
            <translation>Würfel</translation>
        </message>
        <message>
            <source>Plane</source>
            <translation>Ebene</translation>
        </message>
        <message>
            <source>Triangle Mesh</source>
            <translation>Dreiecksnetz</translation>
        </message>
        <message>
            <source>Textured Triangle Mesh</source>
            <translation>Texturiertes Dreiecksnetz</translation>
        </message>
        <message>
            <source>New Polygon Mask</source>
            <translation>Neue Polygonmaske</translation>
        </message>
        <message>
            <source>Close Polygon Mask</source>
            <translation>Polygonmaske schließen</translation>
        </message>
        <message>
            <source>Load Images</source>
            <translation>Bilder laden</translation>
        </message>
        <message>
            <source>Load Project</source>
            <translation>Projekt laden</translation>
        </message>
        <message>
            <source>Undo </source>
            <translation>Rückgängig: </translation>
        </message>
        <message>
            <source>Redo </source>
            <translation>Wiederholen: </translation>
        </message>
        <message>
            <source>Reset View</source>
            <translation>Ansicht zurücksetzen</translation>
        </message>
        <message>
            <source>Reset the viewport</source>
            <translation>Die Ansicht zurücksetzen</translation>
        </message>
        <message>
            <source>Deselect All</source>
            <translation>Auswahl aufheben</translation>
        </message>
        <message>
            <source>Deselects all currently selected objects</source>
            <translation>Hebt die Auswahl aller Objekte auf</translation>
        </message>
        <message>
            <source>Move Orbit Center to</source>
            <translation>Drehzentrum verschieben nach</translation>
        </message>
        <message>
            <source>Selection</source>
            <translation>Auswahl</translation>
        </message>
        <message>
            <source>Origin</source>
            <translation>Ursprung</translation>
        </message>
        <message>
            <source>Camera Position</source>
            <translation>Kameraposition</translation>
        </message>
    </context>
    <context>
        <name>QObject</name>
        <message>
            <source>unknown</source>
            <translation>unbekannt</translation>
        </message>
        <message>
            <source>Create Polygon Object</source>
            <translation>Polygonobjekt anlegen</translation>
        </message>
        <message>
            <source>Move Polygon Object</source>
            <translation>Polygonobjekt verschieben</translation>
        </message>
        <message>
            <source>Delete Polygon Object</source>
            <translation>Polygonobjekt löschen</translation>
        </message>
        <message>
            <source>Scene transform</source>
            <translation>Szenentransformation</translation>
        </message>
        <message>
            <source>Delete 3D points</source>
            <translation>3D-Punkte löschen</translation>
        </message>
        <message>
            <source>Move ground grid</source>
            <translation>Bodengitter verschieben</translation>
        </message>
        <message>
            <source>Move scene</source>
            <translation>Szene verschieben</translation>
        </message>
        <message>
            <source>Remove feature tracks</source>
            <translation>Merkmalsspuren entfernen</translation>
        </message>
        <message>
            <source>3D export</source>
            <translation>3D-Export</translation>
        </message>
    </context>
</TS>
