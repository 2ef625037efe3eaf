<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.0" language="sk_SK">
<context>
    <name>PinBlockedErrorDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Blocked value</source>
        <translation>Váš BOK je zablokovaný</translation>
    </message>
    <message>
        <source>Blocked BOK value</source>
        <translation>Váš BOK je zablokovaný</translation>
    </message>
    <message>
        <source>Close window</source>
        <translation>Zavrieť okno</translation>
    </message>
</context>
<context>
    <name>PinErrorDialog</name>
    <message>
        <source>ErrorMessage</source>
        <translation>Chybová správa</translation>
    </message>
    <message>
        <source>Incorrect value</source>
        <translation>Nesprávna hodnota</translation>
    </message>
    <message>
        <source>Incorrect BOK value</source>
        <translation>Nesprávna BOK hodnota</translation>
    </message>
    <message>
        <source>Number of remaining attempts:</source>
        <translation>Počet zostávajúcich pokusov:</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>Re-enter BOK</source>
        <translation>Opakovať zadanie</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Zrušiť</translation>
    </message>
</context>
<context>
    <name>PinLengthErrorDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Incorrect BOK value length</source>
        <translation>Nesprávna zadaná dĺžka BOK</translation>
    </message>
    <message>
        <source>Re-enter</source>
        <translation>Opakovať zadanie</translation>
    </message>
    <message>
        <source>Re-enter BOK</source>
        <translation type="vanished"></translation>
    </message>
</context>
<context>
    <name>PinPadRequestDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>User confirmation</source>
        <translation>Overenie používateľa</translation>
    </message>
    <message>
        <source>Remaining attempts:</source>
        <translation>Zostávajúci počet pokusov:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titulok</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:12pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Prosím zadajte Váš &lt;/span&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Incorrect value</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Enter BOK value using your PinPad reader please</source>
        <translation type="vanished"></translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Blocked BOK value</source>
        <translation>Váš BOK je zablokovaný</translation>
    </message>
    <message>
        <source>Blocked PIN value</source>
        <translation>Váš PIN je zablokovaný</translation>
    </message>
    <message>
        <source>Incorrect BOK value</source>
        <translation>Nesprávna BOK hodnota</translation>
    </message>
    <message>
        <source>Incorrect PIN value</source>
        <translation>Nesprávna PIN hodnota</translation>
    </message>
    <message>
        <source>Incorrect BOK value length</source>
        <translation>Nesprávna zadaná dĺžka BOK</translation>
    </message>
    <message>
        <source>Incorrect PIN value length</source>
        <translation>Nesprávna zadaná dĺžka PIN</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Prosím vložte Váš &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your BOK</source>
        <translation>Prosím vložte Váš BOK</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;ZEP PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Prosím vložte Váš &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;KEP PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your ZEP PIN</source>
        <translation>Prosím vložte Váš KEP PIN</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Prosím vložte Váš &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your PIN</source>
        <translation>Prosím vložte Váš PIN</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PUK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Prosím vložte Váš &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PUK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your PUK</source>
        <translation>Prosím vložte Váš PUK</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;BOK &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Zadajte hodnotu Vášho &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;BOK &lt;/span&gt;&lt;span&gt;na numerickej klávesnici čítačky&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;ZEP PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Zadajte hodnotu Vášho &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;KEP PIN &lt;/span&gt;&lt;span&gt;na numerickej klávesnici čítačky&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Zadajte hodnotu Vášho &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;PIN &lt;/span&gt;&lt;span&gt;na numerickej klávesnici čítačky&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please insert your BOK</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Please insert your PIN</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Please insert your PUK</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Enter BOK value using your PinPad reader please</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Enter ZEP PIN value using your PinPad reader please</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Incorrect value length</source>
        <translation type="vanished"></translation>
    </message>
</context>
<context>
    <name>VirtualKeyDialog</name>
    <message>
        <source>Virtual keyboard</source>
        <translation>Virtuálna klávesnica</translation>
    </message>
    <message>
        <source>User confirmation</source>
        <translation>Overenie používateľa</translation>
    </message>
    <message>
        <source>Remaining attempts:</source>
        <translation>Zostávajúci počet pokusov:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titulok</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:12pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Prosím zadajte Váš &lt;/span&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>active</source>
        <translation>aktívna</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>random</source>
        <translation>náhodné</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Keyboard layout:&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>Rozloženie klávesnice</translation>
    </message>
    <message>
        <source>ordered</source>
        <translation>usporiadané</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zavrieť</translation>
    </message>
    <message>
        <source>Please enter your BOK</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="vanished"></translation>
    </message>
    <message>
        <source>Pin inserting active</source>
        <translation type="vanished"></translation>
    </message>
</context>
</TS>
