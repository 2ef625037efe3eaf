<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.0" language="en_US">
<context>
    <name>PinBlockedErrorDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Blocked value</source>
        <translation>Blocked value</translation>
    </message>
    <message>
        <source>Blocked BOK value</source>
        <translation>Blocked BOK value</translation>
    </message>
    <message>
        <source>Close window</source>
        <translation>Close window</translation>
    </message>
</context>
<context>
    <name>PinErrorDialog</name>
    <message>
        <source>ErrorMessage</source>
        <translation>ErrorMessage</translation>
    </message>
    <message>
        <source>Incorrect value</source>
        <translation>Incorrect value</translation>
    </message>
    <message>
        <source>Incorrect BOK value</source>
        <translation>Incorrect BOK value</translation>
    </message>
    <message>
        <source>Number of remaining attempts:</source>
        <translation>Number of remaining attempts:</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>Re-enter BOK</source>
        <translation>Re-enter BOK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
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
        <translation>Incorrect BOK value length</translation>
    </message>
    <message>
        <source>Re-enter</source>
        <translation>Re-enter</translation>
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
        <translation>User confirmation</translation>
    </message>
    <message>
        <source>Remaining attempts:</source>
        <translation>Remaining attempts:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:12pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
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
        <translation>Blocked BOK value</translation>
    </message>
    <message>
        <source>Blocked PIN value</source>
        <translation>Blocked PIN value</translation>
    </message>
    <message>
        <source>Incorrect BOK value</source>
        <translation>Incorrect BOK value</translation>
    </message>
    <message>
        <source>Incorrect PIN value</source>
        <translation>Incorrect PIN value</translation>
    </message>
    <message>
        <source>Incorrect BOK value length</source>
        <translation>Incorrect BOK value length</translation>
    </message>
    <message>
        <source>Incorrect PIN value length</source>
        <translation>Incorrect PIN value length</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your BOK</source>
        <translation>Please enter your BOK</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;ZEP PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;ZEP PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your ZEP PIN</source>
        <translation>Please enter your ZEP PIN</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PIN&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your PIN</source>
        <translation>Please enter your PIN</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PUK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot;font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot;font-size:11pt; font-weight:600;&quot;&gt;PUK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Please enter your PUK</source>
        <translation>Please enter your PUK</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;BOK &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;BOK &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;ZEP PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;ZEP PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span&gt;Enter your &lt;/span&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;PIN &lt;/span&gt;&lt;span&gt;using PinPad reader&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
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
        <translation>Virtual keyboard</translation>
    </message>
    <message>
        <source>User confirmation</source>
        <translation>User confirmation</translation>
    </message>
    <message>
        <source>Remaining attempts:</source>
        <translation>Remaining attempts:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:12pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;Please enter your &lt;/span&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;BOK&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>active</source>
        <translation>active</translation>
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
        <translation>random</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Keyboard layout:&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Keyboard layout:&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>ordered</source>
        <translation>ordered</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
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
