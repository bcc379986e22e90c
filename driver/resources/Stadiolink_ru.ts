<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en">
<context>
    <name>AbstractHandler</name>
    <message>
        <source>There are no errors</source>
        <translation>Ошибок нет</translation>
    </message>
</context>
<context>
    <name>BasePoints</name>
    <message>
        <source>%1: nothing was measured</source>
        <translation>%1: измерение не выполнено</translation>
    </message>
    <message>
        <source>A weight must be a number greater than 0. Correct the weight, or clear the Used box to leave the point out: %1</source>
        <translation>Вес должен быть числом больше 0. Исправьте вес или снимите флажок «Используется», чтобы исключить точку: %1</translation>
    </message>
    <message>
        <source>All basepoints have been measured</source>
        <translation>Все базовые точки измерены</translation>
    </message>
    <message>
        <source>Base points</source>
        <translation>Базовые точки</translation>
    </message>
    <message>
        <source>Calculate</source>
        <translation>Рассчитать</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Информация</translation>
    </message>
    <message>
        <source>It is necessary to measure more than two points</source>
        <translation>Необходимо измерить более двух точек</translation>
    </message>
    <message>
        <source>Max error:</source>
        <translation>Макс. ошибка:</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>Измерить</translation>
    </message>
    <message>
        <source>Min error:</source>
        <translation>Мин. ошибка:</translation>
    </message>
    <message>
        <source>More than two points must be included in the calculation</source>
        <translation>В расчёт должно быть включено более двух точек</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Имя</translation>
    </message>
    <message>
        <source>No station matrix has come from the server within %1 s: the server could not solve with these points or does not answer</source>
        <translation>Сервер не прислал матрицу станции за %1 с: он не смог выполнить расчёт по этим точкам или не отвечает</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ок</translation>
    </message>
    <message>
        <source>RMS:</source>
        <translation>СКО:</translation>
    </message>
    <message>
        <source>Rows:</source>
        <translation>Строк:</translation>
    </message>
    <message>
        <source>The instrument has not answered within %1 s</source>
        <translation>Прибор не ответил в течение %1 с</translation>
    </message>
    <message>
        <source>There is no connection to the instrument: nothing was measured</source>
        <translation>Нет связи с прибором: измерение не выполнено</translation>
    </message>
    <message>
        <source>There is no connection to the server: nothing was calculated</source>
        <translation>Нет соединения с сервером: расчёт не выполнен</translation>
    </message>
    <message>
        <source>Used</source>
        <translation>Используется</translation>
    </message>
    <message>
        <source>Wait for the device to hover over the next point</source>
        <translation>Дождитесь наведения девайса на следующую точку</translation>
    </message>
    <message>
        <source>Weight</source>
        <translation>Вес</translation>
    </message>
    <message>
        <source>Orientation (the direction of Hz = 0 from the X axis towards Y): %1° = %2 gon</source>
        <translation>Ориентирование (направление Hz = 0 от оси X к оси Y): %1° = %2 гон</translation>
    </message>
    <message>
        <source>Scale: %1 (%2 ppm)</source>
        <translation>Масштаб: %1 (%2 мм/км)</translation>
    </message>
    <message>
        <source>Station: E/X = %1 m, N/Y = %2 m, height = %3 m</source>
        <translation>Станция: E/X = %1 м, N/Y = %2 м, высота = %3 м</translation>
    </message>
</context>
<context>
    <name>Client</name>
    <message>
        <source>The server did not answer within %1 ms</source>
        <translation>Сервер не ответил за %1 мс</translation>
    </message>
    <message>
        <source>A session with that name already exists. Replace with: %1 ?</source>
        <translation>Сессия с таким именем уже существует. Заменить на: %1 ?</translation>
    </message>
    <message>
        <source>Connection rejected</source>
        <translation>Подключение отклонено</translation>
    </message>
    <message>
        <source>Error: </source>
        <translation>Ошибка: </translation>
    </message>
    <message>
        <source>Network information</source>
        <translation>Информация о сети</translation>
    </message>
    <message>
        <source>Session error</source>
        <translation>Ошибка сессии</translation>
    </message>
    <message>
        <source>The server at the specified address was not found</source>
        <translation>Сервер по указанному адресу не найден</translation>
    </message>
    <message>
        <source>The server has closed the connection</source>
        <translation>Сервер закрыл соединение</translation>
    </message>
    <message>
        <source>The point&apos;s names are too long to send</source>
        <translation>Имена точки слишком длинные для отправки</translation>
    </message>
    <message>
        <source>The server does not accept data</source>
        <translation>Сервер не принимает данные</translation>
    </message>
    <message>
        <source>The session name is too long to send</source>
        <translation>Имя сессии слишком длинное для отправки</translation>
    </message>
    <message>
        <source>There is no connection to the server</source>
        <translation>Нет соединения с сервером</translation>
    </message>
    <message>
        <source>Too many base points for one request: %1 (at most %2)</source>
        <translation>Слишком много базовых точек для одного запроса: %1 (не более %2)</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Usage: Stadiolink [DEVICE NAME]
       Stadiolink --help | --version

Drives a motorised Leica total station over a serial port (GeoCOM) and sends
the measured points to the Velmora CAD server over TCP.

DEVICE NAME  the instrument's name, shown read-only in the window and sent to
             the server; without it the name can be typed in the window.

Options:
  -h, --help  show this help and exit
  --version   show the version and exit

Environment:
  STADIOLINK_SERIAL_PORTS  serial ports that Settings offers before the ports
                           found, separated by &quot;%1&quot;; the first is chosen.
</source>
        <translation>Использование: Stadiolink [ИМЯ ДЕВАЙСА]
               Stadiolink --help | --version

Управляет моторизованным тахеометром Leica через последовательный порт (GeoCOM)
и передаёт измеренные точки серверу САПР Velmora по TCP.

ИМЯ ДЕВАЙСА  имя прибора: показывается в окне без права правки и передаётся
             серверу; без него имя можно ввести в окне.

Параметры:
  -h, --help  показать эту справку и выйти
  --version   показать версию и выйти

Переменные окружения:
  STADIOLINK_SERIAL_PORTS  последовательные порты, которые Настройки предлагают
                           раньше найденных, через &quot;%1&quot;; выбран первый.
</translation>
    </message>
    <message>
        <source>Stadiolink: unknown option %1
Stadiolink --help lists the options.
</source>
        <translation>Stadiolink: неизвестный параметр %1
Список параметров: Stadiolink --help
</translation>
    </message>
</context>
<context>
    <name>InstrumentPort</name>
    <message>
        <source>no connection within %1 s</source>
        <translation>нет соединения за %1 с</translation>
    </message>
    <message>
        <source>the connection was refused (is the serial device server on, and is the port right?)</source>
        <translation>соединение отклонено (включён ли сервер последовательного порта и верен ли порт?)</translation>
    </message>
    <message>
        <source>the host was not found</source>
        <translation>узел не найден</translation>
    </message>
    <message>
        <source>the instrument&apos;s end closed the connection</source>
        <translation>сторона прибора закрыла соединение</translation>
    </message>
</context>
<context>
    <name>InstrumentErrors</name>
    <message>
        <source>Aim so that only one reflector lies in the search range and try again.</source>
        <translation>Наведите так, чтобы в области поиска был только один отражатель, и повторите.</translation>
    </message>
    <message>
        <source>Aim the telescope at the reflector (or choose a reflectorless EDM mode for a target without one) and measure again.</source>
        <translation>Наведите трубу на отражатель (для цели без отражателя выберите безотражательный режим дальномера) и измерьте снова.</translation>
    </message>
    <message>
        <source>Aim the telescope closer to the reflector and try again.</source>
        <translation>Наведите трубу точнее на отражатель и повторите.</translation>
    </message>
    <message>
        <source>Check that the instrument is levelled and stands firm, then try again.</source>
        <translation>Проверьте, что прибор отгоризонтирован и стоит устойчиво, и повторите.</translation>
    </message>
    <message>
        <source>Check that the instrument is switched on and its cable is plugged in; if it keeps happening, disconnect and connect again.</source>
        <translation>Проверьте, что прибор включён и кабель подключён; если ошибка повторяется, отключитесь и подключитесь снова.</translation>
    </message>
    <message>
        <source>Check that the reflector faces the instrument and nothing is in the way, then measure again.</source>
        <translation>Проверьте, что отражатель обращён к прибору и ничто его не загораживает, и измерьте снова.</translation>
    </message>
    <message>
        <source>Check the baud rate in Settings and the cable; if it keeps happening, disconnect and connect again.</source>
        <translation>Проверьте скорость порта в настройках и кабель; если ошибка повторяется, отключитесь и подключитесь снова.</translation>
    </message>
    <message>
        <source>Look at the instrument's display for a message and try again.</source>
        <translation>Посмотрите сообщение на экране прибора и повторите.</translation>
    </message>
    <message>
        <source>No distance could be measured: no reflector or target in the line of sight</source>
        <translation>Расстояние не измерено: на линии визирования нет отражателя или цели</translation>
    </message>
    <message>
        <source>No target was found</source>
        <translation>Цель не найдена</translation>
    </message>
    <message>
        <source>Only the angles were measured, no distance</source>
        <translation>Измерены только углы, расстояние не измерено</translation>
    </message>
    <message>
        <source>Press Capture to switch the target lock on, then try again.</source>
        <translation>Нажмите «Захват», чтобы включить захват цели, и повторите.</translation>
    </message>
    <message>
        <source>Release the arrow buttons, wait until the instrument stands still and try again.</source>
        <translation>Отпустите кнопки со стрелками, дождитесь остановки прибора и повторите.</translation>
    </message>
    <message>
        <source>Several targets are in the search range</source>
        <translation>В области поиска несколько целей</translation>
    </message>
    <message>
        <source>The angles could not be measured</source>
        <translation>Не удалось измерить углы</translation>
    </message>
    <message>
        <source>The automatic aiming ran out of time</source>
        <translation>Автоматическое наведение не уложилось во время</translation>
    </message>
    <message>
        <source>The distance signal is too weak or disturbed</source>
        <translation>Сигнал дальномера слишком слаб или искажён</translation>
    </message>
    <message>
        <source>The instrument aborted the request</source>
        <translation>Прибор прервал выполнение запроса</translation>
    </message>
    <message>
        <source>The instrument could not carry out the request</source>
        <translation>Прибор не смог выполнить запрос</translation>
    </message>
    <message>
        <source>The instrument did not answer in time</source>
        <translation>Прибор не ответил вовремя</translation>
    </message>
    <message>
        <source>The instrument does not offer this request</source>
        <translation>Прибор не поддерживает этот запрос</translation>
    </message>
    <message>
        <source>The instrument is busy</source>
        <translation>Прибор занят</translation>
    </message>
    <message>
        <source>The instrument refused a value of the request</source>
        <translation>Прибор отклонил значение в запросе</translation>
    </message>
    <message>
        <source>The instrument reports an unspecified error</source>
        <translation>Прибор сообщает о неопределённой ошибке</translation>
    </message>
    <message>
        <source>The instrument's answer could not be read</source>
        <translation>Не удалось прочитать ответ прибора</translation>
    </message>
    <message>
        <source>The measurement is not fully corrected: the instrument may not be levelled</source>
        <translation>Измерение выполнено без полной коррекции: возможно, прибор не отгоризонтирован</translation>
    </message>
    <message>
        <source>The motors are busy</source>
        <translation>Моторы заняты</translation>
    </message>
    <message>
        <source>The motors are not ready for this request</source>
        <translation>Моторы не готовы к этому запросу</translation>
    </message>
    <message>
        <source>The motors or the automatic aiming failed</source>
        <translation>Сбой моторов или автоматического наведения</translation>
    </message>
    <message>
        <source>The target lock is not switched on</source>
        <translation>Захват цели не включён</translation>
    </message>
    <message>
        <source>This instrument may not support the request; check its firmware.</source>
        <translation>Возможно, этот прибор не поддерживает запрос; проверьте его прошивку.</translation>
    </message>
    <message>
        <source>Wait a moment until the instrument is ready and try again.</source>
        <translation>Подождите, пока прибор будет готов, и повторите.</translation>
    </message>
</context>
<context>
    <name>Journal</name>
    <message>
        <source>Journal %1, line %2 is damaged and was skipped</source>
        <translation>Журнал %1, строка %2 повреждена и пропущена</translation>
    </message>
    <message>
        <source>the folder cannot be created</source>
        <translation>не удаётся создать папку</translation>
    </message>
    <message>
        <source>The observation journal %1 cannot be written: %2</source>
        <translation>Не удаётся записать журнал измерений %1: %2</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Connecting to the instrument at %1 ...</source>
        <translation>Подключение к прибору на %1 ...</translation>
    </message>
    <message>
        <source>Couldn&apos;t connect to the instrument: %1</source>
        <translation>Не удалось подключиться к прибору: %1</translation>
    </message>
    <message>
        <source>!Error! Client* = nullptr</source>
        <translation>!Ошибка! Client* = nullptr</translation>
    </message>
    <message>
        <source>!Error! SerialPortHandler* = nullptr</source>
        <translation>!Ошибка! SerialPortHandler* = nullptr</translation>
    </message>
    <message>
        <source>%1 / %2 / %3: x = %4, y = %5, z = %6, %7</source>
        <translation>%1 / %2 / %3: x = %4, y = %5, z = %6, %7</translation>
    </message>
    <message>
        <source>About the program</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Авто</translation>
    </message>
    <message>
        <source>Base points</source>
        <translation>Базовые точки</translation>
    </message>
    <message>
        <source>Capture</source>
        <translation>Захват</translation>
    </message>
    <message>
        <source>Command error</source>
        <translation>Ошибка команды</translation>
    </message>
    <message>
        <source>Configure the serial port</source>
        <translation>Настроить последовательный порт</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Подключить</translation>
    </message>
    <message>
        <source>Connect to the serial port and to the server</source>
        <translation>Подключиться к последовательному порту и к серверу</translation>
    </message>
    <message>
        <source>Connected to the server</source>
        <translation>Подключено к серверу</translation>
    </message>
    <message>
        <source>Reconnect to the server</source>
        <translation>Переподключиться к серверу</translation>
    </message>
    <message>
        <source>Connect to the server again now; the instrument stays linked</source>
        <translation>Подключиться к серверу заново сейчас; прибор остаётся подключённым</translation>
    </message>
    <message>
        <source>Connected to the server again</source>
        <translation>Подключение к серверу восстановлено</translation>
    </message>
    <message>
        <source>Reconnecting to the server %1:%2 in the background; the points measured meanwhile are kept in the journal</source>
        <translation>Переподключение к серверу %1:%2 в фоновом режиме; точки, измеренные тем временем, сохраняются в журнале</translation>
    </message>
    <message>
        <source>Reconnecting to the server ...</source>
        <translation>Переподключение к серверу ...</translation>
    </message>
    <message>
        <source>Reconnecting to the server: next try at %1</source>
        <translation>Переподключение к серверу: следующая попытка в %1</translation>
    </message>
    <message>
        <source>The last try: %1</source>
        <translation>Последняя попытка: %1</translation>
    </message>
    <message>
        <source>Measuring goes on: the points are kept in the journal. The connection to the server comes back by itself, and the points are then offered for sending.</source>
        <translation>Измерения продолжаются: точки сохраняются в журнале. Подключение к серверу восстановится само, и тогда точки будут предложены к отправке.</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Подключение</translation>
    </message>
    <message>
        <source>Connection error</source>
        <translation>Ошибка подключения</translation>
    </message>
    <message>
        <source>Connection error to the device</source>
        <translation>Ошибка подключения к девайсу</translation>
    </message>
    <message>
        <source>Couldn't connect to COM port: %1</source>
        <translation>Не удалось подключиться к COM-порту: %1</translation>
    </message>
    <message>
        <source>Couldn't connect to the server</source>
        <translation>Не удалось подключиться к серверу</translation>
    </message>
    <message>
        <source>Device Name: %1</source>
        <translation>Имя девайса: %1</translation>
    </message>
    <message>
        <source>Device name:</source>
        <translation>Имя девайса:</translation>
    </message>
    <message>
        <source>Device status</source>
        <translation>Состояние девайса</translation>
    </message>
    <message>
        <source>Device temperature: %1 %2</source>
        <translation>Температура девайса: %1 %2</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Отключить</translation>
    </message>
    <message>
        <source>Disconnect from the serial port and server</source>
        <translation>Отключиться от последовательного порта и сервера</translation>
    </message>
    <message>
        <source>EDM mode is selected on the device: %1</source>
        <translation>На девайсе выбран режим EDM: %1</translation>
    </message>
    <message>
        <source>Enter the session name (otherwise the name will be %1)</source>
        <translation>Введите имя сессии (иначе имя будет %1)</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Fast repeated meas.</source>
        <translation>Быстрое повторное изм.</translation>
    </message>
    <message>
        <source>Group:</source>
        <translation>Группа:</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>IR Average</source>
        <translation>Усреднённый</translation>
    </message>
    <message>
        <source>IR Fast</source>
        <translation>Быстрый</translation>
    </message>
    <message>
        <source>IR Precise</source>
        <translation>Точный</translation>
    </message>
    <message>
        <source>IR Precise Reflector Tape</source>
        <translation>Точный (отражающая плёнка)</translation>
    </message>
    <message>
        <source>IR Standard</source>
        <translation>Стандартный</translation>
    </message>
    <message>
        <source>IR Standard Reflector Tape</source>
        <translation>Стандартный (отражающая плёнка)</translation>
    </message>
    <message>
        <source>IR Tacking</source>
        <translation>Слежение</translation>
    </message>
    <message>
        <source>Init value</source>
        <translation>Начальное значение</translation>
    </message>
    <message>
        <source>Is unknown</source>
        <translation>Неизвестно</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Позже</translation>
    </message>
    <message>
        <source>LO Average</source>
        <translation>Дальний усреднённый</translation>
    </message>
    <message>
        <source>LO Standard</source>
        <translation>Дальний стандартный</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>not sent, kept in the journal</source>
        <translation>не отправлена, сохранена в журнале</translation>
    </message>
    <message>
        <source>Points not confirmed by the server, kept as unsent in the journal: %1</source>
        <translation>Точки без подтверждения сервера сохранены в журнале как неотправленные: %1</translation>
    </message>
    <message>
        <source>Points sent again from the journal: %1 of %2</source>
        <translation>Повторно отправлено точек из журнала: %1 из %2</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Отправить</translation>
    </message>
    <message>
        <source>Send unsent points...</source>
        <translation>Отправить неотправленные точки...</translation>
    </message>
    <message>
        <source>sent to the server</source>
        <translation>отправлена на сервер</translation>
    </message>
    <message>
        <source>Skip</source>
        <translation>Пропустить</translation>
    </message>
    <message>
        <source>Skipped points are not offered again after a connection. Connection &gt; Send unsent points... offers every one of them.</source>
        <translation>Пропущенные точки больше не предлагаются после подключения. Подключение &gt; Отправить неотправленные точки... предлагает их все.</translation>
    </message>
    <message>
        <source>Stadiolink Driver</source>
        <translation>Драйвер Stadiolink</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>Измерить</translation>
    </message>
    <message>
        <source>Measurement error</source>
        <translation>Ошибка измерения</translation>
    </message>
    <message>
        <source>Not implemented</source>
        <translation>Не реализовано</translation>
    </message>
    <message>
        <source>Point name:</source>
        <translation>Имя точки:</translation>
    </message>
    <message>
        <source>RL Average</source>
        <translation>Безотражательный усреднённый</translation>
    </message>
    <message>
        <source>RL Standard</source>
        <translation>Безотражательный стандартный</translation>
    </message>
    <message>
        <source>RL Tracking</source>
        <translation>Безотражательное слежение</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>Серийный номер: %1</translation>
    </message>
    <message>
        <source>Session</source>
        <translation>Сессия</translation>
    </message>
    <message>
        <source>Session and Measurement Management</source>
        <translation>Управление сессиями и измерениями</translation>
    </message>
    <message>
        <source>Session:</source>
        <translation>Сессия:</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Speed:</source>
        <translation>Скорость:</translation>
    </message>
    <message>
        <source>Standard repeated meas.</source>
        <translation>Стандартное повторное изм.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Стоп</translation>
    </message>
    <message>
        <source>The COM port is already open</source>
        <translation>COM-порт уже открыт</translation>
    </message>
    <message>
        <source>The COM port is closed</source>
        <translation>COM-порт закрыт</translation>
    </message>
    <message>
        <source>The base point for the measurement is not selected</source>
        <translation>Базовая точка для измерения не выбрана</translation>
    </message>
    <message>
        <source>The control is not in use yet</source>
        <translation>Элемент управления пока не используется</translation>
    </message>
    <message>
        <source>The device is connected</source>
        <translation>Девайс подключён</translation>
    </message>
    <message>
        <source>The instrument was lost: %1</source>
        <translation>Связь с прибором потеряна: %1</translation>
    </message>
    <message>
        <source>The journal holds no unsent points</source>
        <translation>В журнале нет неотправленных точек</translation>
    </message>
    <message>
        <source>The laser is off</source>
        <translation>Лазер выключен</translation>
    </message>
    <message>
        <source>The laser is on</source>
        <translation>Лазер включён</translation>
    </message>
    <message>
        <source>There is no connection to the server</source>
        <translation>Нет соединения с сервером</translation>
    </message>
    <message>
        <source>To free</source>
        <translation>Освободить</translation>
    </message>
    <message>
        <source>To work with the Leica total station and transfer data to Velmora</source>
        <translation>Для работы с тахеометром Leica и передачи данных в Velmora</translation>
    </message>
    <message>
        <source>Tracking</source>
        <translation>Слежение</translation>
    </message>
    <message>
        <source>Type of measurement:</source>
        <translation>Тип измерения:</translation>
    </message>
    <message>
        <source>rad/s</source>
        <translation>рад/с</translation>
    </message>
    <message>
        <source>Unsent points</source>
        <translation>Неотправленные точки</translation>
    </message>
    <message>
        <source>Unsent points skipped: %1</source>
        <translation>Пропущено неотправленных точек: %1</translation>
    </message>
    <message>
        <source>%1, measured %2</source>
        <translation>%1, измерена %2</translation>
    </message>
    <message>
        <source>%1, measured %2 (another point in the journal has this name in this session and group)</source>
        <translation>%1, измерена %2 (в журнале есть другая точка с этим именем в той же сессии и группе)</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(нет)</translation>
    </message>
    <message>
        <source>; in the base points' frame: X = %1, Y = %2, Z = %3</source>
        <translation>; в системе базовых точек: X = %1, Y = %2, Z = %3</translation>
    </message>
    <message>
        <source>Hz:</source>
        <translation>Hz:</translation>
    </message>
    <message>
        <source>Measuring...</source>
        <translation>Измерение...</translation>
    </message>
    <message>
        <source>Points in the journal not confirmed by the server: %1. Send them now?</source>
        <translation>Точек в журнале без подтверждения сервера: %1. Отправить их сейчас?</translation>
    </message>
    <message>
        <source>Points sharing their session, group and name with another point in the journal: %1. The server would file them under the same name.</source>
        <translation>Точек, у которых сессия, группа и имя совпадают с другой точкой журнала: %1. Сервер сохранит их под тем же именем.</translation>
    </message>
    <message>
        <source>SD:</source>
        <translation>Накл.:</translation>
    </message>
    <message>
        <source>The server has not accepted the session name %1 within %2 s: nothing was measured</source>
        <translation>Сервер не принял имя сессии %1 за %2 с: измерение не выполнено</translation>
    </message>
    <message>
        <source>V:</source>
        <translation>V:</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>и ещё %1</translation>
    </message>
    <message>
        <source>deg</source>
        <translation>град</translation>
    </message>
    <message>
        <source>m</source>
        <translation>м</translation>
    </message>
    <message>
        <source>Horizontal angle</source>
        <translation>Горизонтальный угол</translation>
    </message>
    <message>
        <source>Vertical angle (zenith angle: 0° straight up, 90° level)</source>
        <translation>Вертикальный угол (зенитное расстояние: 0° — зенит, 90° — горизонт)</translation>
    </message>
    <message>
        <source>Slope distance of the last measurement</source>
        <translation>Наклонное расстояние последнего измерения</translation>
    </message>
</context>
<context>
    <name>SerialPortHandler</name>
    <message>
        <source>not a network address of the form host:port (port 1 to 65535)</source>
        <translation>не сетевой адрес вида узел:порт (порт от 1 до 65535)</translation>
    </message>
    <message>
        <source>Command error %1: error code %2</source>
        <translation>Ошибка команды %1: код ошибки %2</translation>
    </message>
    <message>
        <source>Port error %1: %2</source>
        <translation>Ошибка порта %1: %2</translation>
    </message>
    <message>
        <source>the device stopped answering (cable or adapter disconnected?)</source>
        <translation>прибор перестал отвечать (отключён кабель или адаптер?)</translation>
    </message>
    <message>
        <source>the port failed (error %1)</source>
        <translation>сбой порта (ошибка %1)</translation>
    </message>
    <message>
        <source>the port is gone (USB adapter unplugged or terminal closed)</source>
        <translation>порт исчез (USB-адаптер отключён или терминал закрыт)</translation>
    </message>
    <message>
        <source>Unexpected type of QVariant: %1</source>
        <translation>Неожиданный тип QVariant: %1</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>A network port: the instrument&apos;s serial line is set up at the device server; the settings below do not apply.</source>
        <translation>Сетевой порт: последовательная линия прибора настраивается на сервере устройства; параметры ниже не действуют.</translation>
    </message>
    <message>
        <source>A serial port (COM3, /dev/ttyUSB0), or a serial device server or radio bridge on the network as host:port (192.168.0.20:4001)</source>
        <translation>Последовательный порт (COM3, /dev/ttyUSB0) или сервер последовательного порта либо радиомост в сети в виде узел:порт (192.168.0.20:4001)</translation>
    </message>
    <message>
        <source>Baud rate:</source>
        <translation>Скорость (бод):</translation>
    </message>
    <message>
        <source>COM Port Settings</source>
        <translation>Настройки COM-порта</translation>
    </message>
    <message>
        <source>Data bits:</source>
        <translation>Биты данных:</translation>
    </message>
    <message>
        <source>Even</source>
        <translation>Чётный</translation>
    </message>
    <message>
        <source>Flow control:</source>
        <translation>Управление потоком:</translation>
    </message>
    <message>
        <source>Hardware</source>
        <translation>Аппаратное</translation>
    </message>
    <message>
        <source>IP address:</source>
        <translation>IP-адрес:</translation>
    </message>
    <message>
        <source>Mark</source>
        <translation>Маркер</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Odd</source>
        <translation>Нечётный</translation>
    </message>
    <message>
        <source>Parity:</source>
        <translation>Чётность:</translation>
    </message>
    <message>
        <source>Port (server):</source>
        <translation>Порт (сервер):</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Порт:</translation>
    </message>
    <message>
        <source>Server Connection Settings</source>
        <translation>Настройки подключения к серверу</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Пробел</translation>
    </message>
    <message>
        <source>Stop bits:</source>
        <translation>Стоп-биты:</translation>
    </message>
    <message>
        <source>XON/XOFF</source>
        <translation>XON/XOFF</translation>
    </message>
</context>
</TS>
