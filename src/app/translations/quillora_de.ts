<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutWindow</name>
    <message>
        <source>About Quillora Camera</source>
        <translation>Über Quillora Camera</translation>
    </message>
    <message>
        <source>The live picture of your Quillora document camera: turn it, freeze it, save it as a photo or record a movie of it.</source>
        <translation>Das Livebild Ihrer Quillora-Dokumentenkamera: drehen, einfrieren, als Foto speichern oder als Film aufnehmen.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Quillora Camera</source>
        <translation>Quillora Camera</translation>
    </message>
    <message>
        <source>Take Photo</source>
        <translation>Foto aufnehmen</translation>
    </message>
    <message>
        <source>Take a photo (Ctrl+T)</source>
        <translation>Ein Foto aufnehmen (Strg+T)</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Start or stop recording a movie (Ctrl+Shift+R)</source>
        <translation>Filmaufnahme starten oder beenden (Strg+Umschalt+R)</translation>
    </message>
    <message>
        <source>Freeze</source>
        <translation>Einfrieren</translation>
    </message>
    <message>
        <source>Freeze or resume the picture (Ctrl+F)</source>
        <translation>Bild einfrieren oder fortsetzen (Strg+F)</translation>
    </message>
    <message>
        <source>Rotate</source>
        <translation>Drehen</translation>
    </message>
    <message>
        <source>Turn the picture a quarter turn clockwise (Ctrl+R)</source>
        <translation>Bild um eine Vierteldrehung im Uhrzeigersinn drehen (Strg+R)</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>Fokus</translation>
    </message>
    <message>
        <source>Let the camera focus (Ctrl+Shift+F)</source>
        <translation>Die Kamera scharf stellen lassen (Strg+Umschalt+F)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>C&amp;amera</source>
        <translation>&amp;Kamera</translation>
    </message>
    <message>
        <source>&amp;Capture</source>
        <translation>&amp;Aufnahme</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Preferences…</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Start Capture</source>
        <translation>Aufnahme starten</translation>
    </message>
    <message>
        <source>Quillora Camera Help</source>
        <translation>Hilfe zu Quillora Camera</translation>
    </message>
    <message>
        <source>About Quillora Camera</source>
        <translation>Über Quillora Camera</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>A&amp;nsicht</translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Fit</source>
        <translation>Einpassen</translation>
    </message>
    <message>
        <source>Mirror</source>
        <translation>Spiegeln</translation>
    </message>
    <message>
        <source>Picture Controls…</source>
        <translation>Bildeinstellungen …</translation>
    </message>
</context>
<context>
    <name>PreferencesPanel</name>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Movies</source>
        <translation>Filme</translation>
    </message>
    <message>
        <source>Movie size:</source>
        <translation>Filmgröße:</translation>
    </message>
    <message>
        <source>1280 × 1024 (recorded at 640 × 480)</source>
        <translation>1280 × 1024 (aufgenommen mit 640 × 480)</translation>
    </message>
    <message>
        <source>Record sound</source>
        <translation>Ton aufnehmen</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Ordner:</translation>
    </message>
    <message>
        <source>File name:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>Existing file:</source>
        <translation>Vorhandene Datei:</translation>
    </message>
    <message>
        <source>Replace it</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Keep it and number the new movie</source>
        <translation>Behalten und den neuen Film nummerieren</translation>
    </message>
    <message>
        <source>Photos</source>
        <translation>Fotos</translation>
    </message>
    <message>
        <source>Photo size:</source>
        <translation>Fotogröße:</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>Keep it and number the new photo</source>
        <translation>Behalten und das neue Foto nummerieren</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>quillora::app::CommandLine</name>
    <message>
        <source>Shows, photographs and records the picture of a Quillora document camera.</source>
        <translation>Zeigt, fotografiert und nimmt das Bild einer Quillora-Dokumentenkamera auf.</translation>
    </message>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>Unerwartetes Argument „%1“.</translation>
    </message>
    <message>
        <source>Try &apos;%1 --help&apos; for more information.</source>
        <translation>Mehr dazu mit „%1 --help“.</translation>
    </message>
</context>
<context>
    <name>quillora::app::InkTools</name>
    <message>
        <source>Ink</source>
        <translation>Zeichnen</translation>
    </message>
    <message>
        <source>Pen</source>
        <translation>Stift</translation>
    </message>
    <message>
        <source>Highlighter</source>
        <translation>Textmarker</translation>
    </message>
    <message>
        <source>Eraser</source>
        <translation>Radierer</translation>
    </message>
    <message>
        <source>Red</source>
        <translation>Rot</translation>
    </message>
    <message>
        <source>Blue</source>
        <translation>Blau</translation>
    </message>
    <message>
        <source>Green</source>
        <translation>Grün</translation>
    </message>
    <message>
        <source>Black</source>
        <translation>Schwarz</translation>
    </message>
    <message>
        <source>Thin</source>
        <translation>Dünn</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>Thick</source>
        <translation>Dick</translation>
    </message>
    <message>
        <source>Undo Ink</source>
        <translation>Zeichnung rückgängig</translation>
    </message>
    <message>
        <source>Redo Ink</source>
        <translation>Zeichnung wiederherstellen</translation>
    </message>
    <message>
        <source>Clear Ink</source>
        <translation>Zeichnung löschen</translation>
    </message>
    <message>
        <source>The ink is full: undo or clear some of it to draw more</source>
        <translation>Die Zeichnung ist voll: Machen Sie Striche rückgängig oder löschen Sie welche, um weiterzuzeichnen</translation>
    </message>
    <message>
        <source>Ink Tools</source>
        <translation>Zeichenwerkzeuge</translation>
    </message>
</context>
<context>
    <name>quillora::app::PictureControlsPanel</name>
    <message>
        <source>Other Controls</source>
        <translation>Weitere Einstellungen</translation>
    </message>
    <message>
        <source>Reset to Camera Defaults</source>
        <translation>Auf Kamera-Standardwerte zurücksetzen</translation>
    </message>
    <message>
        <source>Picture Controls</source>
        <translation>Bildeinstellungen</translation>
    </message>
    <message>
        <source>Picture Controls: %1</source>
        <translation>Bildeinstellungen: %1</translation>
    </message>
    <message>
        <source>No camera</source>
        <translation>Keine Kamera</translation>
    </message>
    <message>
        <source>The camera&apos;s controls cannot be reached</source>
        <translation>Die Einstellungen der Kamera sind nicht erreichbar</translation>
    </message>
    <message>
        <source>This camera offers no picture controls</source>
        <translation>Diese Kamera bietet keine Bildeinstellungen</translation>
    </message>
    <message>
        <source>From %1 to %2 in steps of %3, default %4</source>
        <translation>Von %1 bis %2 in Schritten von %3, Standard %4</translation>
    </message>
    <message>
        <source>%1: the camera refused %2</source>
        <translation>%1: Die Kamera hat %2 abgelehnt</translation>
    </message>
</context>
<context>
    <name>quillora::app::PictureZoom</name>
    <message>
        <source>%1 %</source>
        <extracomment>The zoom factor shown over the picture for a moment, in per cent of the fitted picture.</extracomment>
        <translation>%1 %</translation>
    </message>
</context>
<context>
    <name>quillora::app::RecordingIndicator</name>
    <message>
        <source>● REC %1 – Stop</source>
        <extracomment>The recording indicator: a red dot, the time recorded so far, and what a click does.</extracomment>
        <translation>● REC %1 – Stopp</translation>
    </message>
    <message>
        <source>A movie is being recorded; click to stop (Ctrl+Shift+R)</source>
        <translation>Ein Film wird aufgenommen; zum Beenden klicken (Strg+Umschalt+R)</translation>
    </message>
</context>
<context>
    <name>quillora::app::VemoViewController</name>
    <message>
        <source>Camera error: no picture comes from the camera</source>
        <translation>Kamerafehler: Von der Kamera kommt kein Bild</translation>
    </message>
    <message>
        <source>No camera connected</source>
        <translation>Keine Kamera angeschlossen</translation>
    </message>
    <message>
        <source>Camera disconnected</source>
        <translation>Kamera getrennt</translation>
    </message>
    <message>
        <source>no folder is set in the preferences</source>
        <translation>in den Einstellungen ist kein Ordner festgelegt</translation>
    </message>
    <message>
        <source>the folder does not exist</source>
        <translation>der Ordner existiert nicht</translation>
    </message>
    <message>
        <source>the folder cannot be written to</source>
        <translation>in den Ordner kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>the disk is full</source>
        <translation>der Datenträger ist voll</translation>
    </message>
    <message>
        <source>no free file name is left</source>
        <translation>es ist kein freier Dateiname mehr übrig</translation>
    </message>
    <message>
        <source>the photo settings are not valid</source>
        <translation>die Foto-Einstellungen sind ungültig</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <translation>die Datei konnte nicht geschrieben werden</translation>
    </message>
    <message>
        <source>the camera stopped sending pictures</source>
        <translation>die Kamera sendet keine Bilder mehr</translation>
    </message>
    <message>
        <source>the sound input was lost</source>
        <translation>der Toneingang ist weggefallen</translation>
    </message>
    <message>
        <source>the camera had not started</source>
        <translation>die Kamera war noch nicht gestartet</translation>
    </message>
    <message>
        <source>the longest movie length was reached</source>
        <translation>die größte Filmlänge wurde erreicht</translation>
    </message>
    <message>
        <source>Movie not started: no camera connected</source>
        <translation>Film nicht gestartet: keine Kamera angeschlossen</translation>
    </message>
    <message>
        <source>Movie not started: %1</source>
        <translation>Film nicht gestartet: %1</translation>
    </message>
    <message>
        <source>Movie not started: the camera could not record</source>
        <translation>Film nicht gestartet: Die Kamera konnte nicht aufnehmen</translation>
    </message>
    <message>
        <source>Stop Capture</source>
        <translation>Aufnahme beenden</translation>
    </message>
    <message>
        <source>Movie saved: %1</source>
        <translation>Film gespeichert: %1</translation>
    </message>
    <message>
        <source>Movie saved: %1 (%2)</source>
        <translation>Film gespeichert: %1 (%2)</translation>
    </message>
    <message>
        <source>Movie ended early: %1; it is saved as %2</source>
        <translation>Film vorzeitig beendet: %1; er ist als %2 gespeichert</translation>
    </message>
    <message>
        <source>Movie not saved: %1</source>
        <translation>Film nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>Start Capture</source>
        <translation>Aufnahme starten</translation>
    </message>
    <message>
        <source>No photo taken: there is no picture yet</source>
        <translation>Kein Foto aufgenommen: Es gibt noch kein Bild</translation>
    </message>
    <message>
        <source>Photo not saved: %1</source>
        <translation>Foto nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>Photo saved: %1</source>
        <translation>Foto gespeichert: %1</translation>
    </message>
    <message>
        <source>%1 is not connected any more</source>
        <translation>%1 ist nicht mehr angeschlossen</translation>
    </message>
    <message>
        <source>the camera&apos;s picture arrived damaged</source>
        <translation>das Bild der Kamera kam beschädigt an</translation>
    </message>
    <message>
        <source>Movie saved as %1: it could not take the name %2 (%3)</source>
        <translation>Film als %1 gespeichert: Er konnte nicht den Namen %2 bekommen (%3)</translation>
    </message>
    <message>
        <source>Picture not frozen: %1</source>
        <translation>Bild nicht eingefroren: %1</translation>
    </message>
</context>
<context>
    <name>quillora::app::WindowDefinition</name>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Take Annotated Photo</source>
        <translation>Foto mit Zeichnung aufnehmen</translation>
    </message>
</context>
<context>
    <name>quillora::capture::CameraControls</name>
    <message>
        <source>Brightness</source>
        <translation>Helligkeit</translation>
    </message>
    <message>
        <source>Contrast</source>
        <translation>Kontrast</translation>
    </message>
    <message>
        <source>Saturation</source>
        <translation>Sättigung</translation>
    </message>
    <message>
        <source>Hue</source>
        <translation>Farbton</translation>
    </message>
    <message>
        <source>White Balance, Automatic</source>
        <translation>Weißabgleich, automatisch</translation>
    </message>
    <message>
        <source>Do White Balance</source>
        <translation>Weißabgleich durchführen</translation>
    </message>
    <message>
        <source>Red Balance</source>
        <translation>Rotabgleich</translation>
    </message>
    <message>
        <source>Blue Balance</source>
        <translation>Blauabgleich</translation>
    </message>
    <message>
        <source>Gamma</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>Exposure</source>
        <translation>Belichtung</translation>
    </message>
    <message>
        <source>Gain, Automatic</source>
        <translation>Verstärkung, automatisch</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>Verstärkung</translation>
    </message>
    <message>
        <source>Horizontal Flip</source>
        <translation>Horizontal spiegeln</translation>
    </message>
    <message>
        <source>Vertical Flip</source>
        <translation>Vertikal spiegeln</translation>
    </message>
    <message>
        <source>Power Line Frequency</source>
        <translation>Netzfrequenz</translation>
    </message>
    <message>
        <source>Hue, Automatic</source>
        <translation>Farbton, automatisch</translation>
    </message>
    <message>
        <source>White Balance Temperature</source>
        <translation>Weißabgleich-Farbtemperatur</translation>
    </message>
    <message>
        <source>Sharpness</source>
        <translation>Schärfe</translation>
    </message>
    <message>
        <source>Backlight Compensation</source>
        <translation>Gegenlichtausgleich</translation>
    </message>
    <message>
        <source>Color Effects</source>
        <translation>Farbeffekte</translation>
    </message>
    <message>
        <source>Auto Exposure</source>
        <translation>Belichtungsautomatik</translation>
    </message>
    <message>
        <source>Exposure Time, Absolute</source>
        <translation>Belichtungszeit, absolut</translation>
    </message>
    <message>
        <source>Exposure, Dynamic Framerate</source>
        <translation>Belichtung, dynamische Bildrate</translation>
    </message>
    <message>
        <source>Pan, Relative</source>
        <translation>Schwenken, relativ</translation>
    </message>
    <message>
        <source>Tilt, Relative</source>
        <translation>Neigen, relativ</translation>
    </message>
    <message>
        <source>Pan, Reset</source>
        <translation>Schwenken zurücksetzen</translation>
    </message>
    <message>
        <source>Tilt, Reset</source>
        <translation>Neigen zurücksetzen</translation>
    </message>
    <message>
        <source>Pan, Absolute</source>
        <translation>Schwenken, absolut</translation>
    </message>
    <message>
        <source>Tilt, Absolute</source>
        <translation>Neigen, absolut</translation>
    </message>
    <message>
        <source>Focus, Absolute</source>
        <translation>Fokus, absolut</translation>
    </message>
    <message>
        <source>Focus, Relative</source>
        <translation>Fokus, relativ</translation>
    </message>
    <message>
        <source>Focus, Automatic Continuous</source>
        <translation>Fokus, fortlaufend automatisch</translation>
    </message>
    <message>
        <source>Zoom, Absolute</source>
        <translation>Zoom, absolut</translation>
    </message>
    <message>
        <source>Zoom, Relative</source>
        <translation>Zoom, relativ</translation>
    </message>
    <message>
        <source>Zoom, Continuous</source>
        <translation>Zoom, stufenlos</translation>
    </message>
    <message>
        <source>Privacy</source>
        <translation>Privatsphäre</translation>
    </message>
    <message>
        <source>Iris, Absolute</source>
        <translation>Blende, absolut</translation>
    </message>
    <message>
        <source>Iris, Relative</source>
        <translation>Blende, relativ</translation>
    </message>
    <message>
        <source>Auto Exposure, Bias</source>
        <translation>Belichtungsautomatik, Korrektur</translation>
    </message>
    <message>
        <source>White Balance, Auto &amp; Preset</source>
        <translation>Weißabgleich, Automatik und Voreinstellung</translation>
    </message>
    <message>
        <source>Auto Focus, Start</source>
        <translation>Autofokus starten</translation>
    </message>
    <message>
        <source>Auto Focus, Stop</source>
        <translation>Autofokus anhalten</translation>
    </message>
    <message>
        <source>Auto Focus, Range</source>
        <translation>Autofokus, Bereich</translation>
    </message>
    <message>
        <source>Pan, Speed</source>
        <translation>Schwenken, Geschwindigkeit</translation>
    </message>
    <message>
        <source>Tilt, Speed</source>
        <translation>Neigen, Geschwindigkeit</translation>
    </message>
    <message>
        <source>User Controls</source>
        <translation>Allgemeine Einstellungen</translation>
    </message>
    <message>
        <source>Camera Controls</source>
        <translation>Kameraeinstellungen</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>50 Hz</source>
        <translation>50 Hz</translation>
    </message>
    <message>
        <source>60 Hz</source>
        <translation>60 Hz</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Auto Mode</source>
        <translation>Automatik</translation>
    </message>
    <message>
        <source>Manual Mode</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Shutter Priority Mode</source>
        <translation>Blendenautomatik (Zeitvorwahl)</translation>
    </message>
    <message>
        <source>Aperture Priority Mode</source>
        <translation>Zeitautomatik (Blendenvorwahl)</translation>
    </message>
</context>
<context>
    <name>quillora::prefs::PathControl</name>
    <message>
        <source>Choose…</source>
        <translation>Auswählen …</translation>
    </message>
    <message>
        <source>Choose a folder</source>
        <translation>Einen Ordner auswählen</translation>
    </message>
</context>
</TS>
