<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About TrellonHD</source>
        <translation>О программе TrellonHD</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>версия</translation>
    </message>
    <message>
        <source>Records and plays back Warcraft II.</source>
        <translation>Запись и просмотр Warcraft II.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CExportDlg</name>
    <message>
        <source>Export</source>
        <translation>Экспорт</translation>
    </message>
    <message>
        <source>MP4 (H.264), for players and sites</source>
        <translation>MP4 (H.264), для плееров и сайтов</translation>
    </message>
    <message>
        <source>WebM (VP9), for browsers</source>
        <translation>WebM (VP9), для браузеров</translation>
    </message>
    <message>
        <source>MKV, lossless</source>
        <translation>MKV, без потерь</translation>
    </message>
    <message>
        <source>GIF, the recording&apos;s own colours</source>
        <translation>GIF, в цветах записи</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Формат</translation>
    </message>
    <message>
        <source>First frame</source>
        <translation>Первый кадр</translation>
    </message>
    <message>
        <source>Last frame</source>
        <translation>Последний кадр</translation>
    </message>
    <message>
        <source>Enlarge</source>
        <translation>Увеличение</translation>
    </message>
</context>
<context>
    <name>CExtractDlg</name>
    <message>
        <source>Extraction</source>
        <translation>Обрезка</translation>
    </message>
    <message>
        <source>Extract</source>
        <translation>Обрезать</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Start Frame</source>
        <translation>Начало</translation>
    </message>
    <message>
        <source>End Frame</source>
        <translation>Конец</translation>
    </message>
    <message>
        <source>Please enter the Start and End Frames of the fragment you want to get.
Attention: other unsaved content will be lost !
So would be better to save the draft file first.</source>
        <translation>Задайте номера кадров начала и конца фрагмента, который вы хотите получить.
Внимание: остальное несохранённое содержимое будет потеряно!</translation>
    </message>
</context>
<context>
    <name>CResizableView</name>
    <message>
        <source>Resizable View TrellonHD</source>
        <translation>Масштабируемое окно TrellonHD</translation>
    </message>
</context>
<context>
    <name>CTrellonDlg</name>
    <message>
        <source>&amp;Export...</source>
        <translation>&amp;Экспорт...</translation>
    </message>
    <message>
        <source>Record &amp;Sound</source>
        <translation>Записывать &amp;звук</translation>
    </message>
    <message>
        <source>&amp;Mute Sound</source>
        <translation>&amp;Выключить звук</translation>
    </message>
    <message>
        <source>&amp;About TrellonHD...</source>
        <translation>&amp;О программе TrellonHD...</translation>
    </message>
    <message>
        <source>TrellonHD</source>
        <translation>TrellonHD</translation>
    </message>
    <message>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>байт</translation>
    </message>
    <message>
        <source>Get Frame</source>
        <translation>Get Frame</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>Сохранить (&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Extract</source>
        <translation>Обрезать (&amp;E)</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>Очистить (&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Load</source>
        <translation>Загрузить (&amp;L)</translation>
    </message>
    <message>
        <source>Video Info</source>
        <translation>информация
 о видео</translation>
    </message>
    <message>
        <source>Detach
 &amp;Video</source>
        <translation>Отцепить
 видео (&amp;V)</translation>
    </message>
    <message>
        <source>&gt;   &amp;Play   &gt;</source>
        <translation>Просмотр (&amp;P)</translation>
    </message>
    <message>
        <source>|   Pa&amp;use   |</source>
        <translation> Пауза (&amp;U)</translation>
    </message>
    <message>
        <source>S&amp;how Cursor</source>
        <translation>показать курсор (&amp;H)</translation>
    </message>
    <message>
        <source>playback</source>
        <translation>скорость</translation>
    </message>
    <message>
        <source>speed</source>
        <translation>просмотра</translation>
    </message>
    <message>
        <source>1/8      </source>
        <translation>1/8      </translation>
    </message>
    <message>
        <source>1/4      </source>
        <translation>1/4      </translation>
    </message>
    <message>
        <source>1/2      </source>
        <translation>1/2      </translation>
    </message>
    <message>
        <source>normal      </source>
        <translation>норма      </translation>
    </message>
    <message>
        <source>recording</source>
        <translation>настройки</translation>
    </message>
    <message>
        <source>settings</source>
        <translation>записи</translation>
    </message>
    <message>
        <source>Target &amp;FPS:</source>
        <translation>Target &amp;FPS:</translation>
    </message>
    <message>
        <source>S&amp;tats</source>
        <translation>S&amp;tats</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
</context>
</TS>
