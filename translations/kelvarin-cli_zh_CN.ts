<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>KelvarinCli</name>
    <message>
        <source>%1: &quot;%2&quot; is not a whole number.</source>
        <translation>%1：“%2”不是整数。</translation>
    </message>
    <message>
        <source>%1: %2 is outside %3..%4.</source>
        <translation>%1：%2 超出 %3..%4。</translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is not a 32-bit whole number (decimal, or hexadecimal after 0x).</source>
        <translation>%1：“%2”不是 32 位整数（十进制，或以 0x 开头的十六进制）。</translation>
    </message>
    <message>
        <source>--port is needed: the serial port of the line, e.g. /dev/ttyUSB0.</source>
        <translation>缺少 --port：线路所接的串口，例如 /dev/ttyUSB0。</translation>
    </message>
    <message>
        <source>--port: there is no port %1.</source>
        <translation>--port：串口 %1 不存在。</translation>
    </message>
    <message>
        <source>--address is needed: the module&apos;s bus address, 1..255.</source>
        <translation>缺少 --address：模块的总线地址，1..255。</translation>
    </message>
    <message>
        <source>Serial port of the line (e.g. /dev/ttyUSB0).</source>
        <translation>线路所接的串口（例如 /dev/ttyUSB0）。</translation>
    </message>
    <message>
        <source>port</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>Baud rate (default 9600).</source>
        <translation>波特率（默认 9600）。</translation>
    </message>
    <message>
        <source>rate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>Time-out of each answer in milliseconds (default %1).</source>
        <translation>每次应答的超时，毫秒（默认 %1）。</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>毫秒</translation>
    </message>
    <message>
        <source>Bus address of the module, 1..255 (0 reaches every module).</source>
        <translation>模块的总线地址，1..255（0 发给所有模块）。</translation>
    </message>
    <message>
        <source>address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Cannot open the port %1: %2</source>
        <translation>无法打开串口 %1：%2</translation>
    </message>
    <message>
        <source>%1: no answer within %2 ms.</source>
        <translation>%1：%2 毫秒内无应答。</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>--code: &quot;%1&quot; is no general parameter (2..22, or DN, ZerO, PointCount, AVP1..AVP9, PVP1..PVP9).</source>
        <translation>--code：“%1”不是通用参数（2..22，或 DN、ZerO、PointCount、AVP1..AVP9、PVP1..PVP9）。</translation>
    </message>
    <message>
        <source>Access code: </source>
        <translation>请输入密码：</translation>
    </message>
    <message>
        <source>The parameters need the access code: give --access-code, or run on a terminal to be asked for it.</source>
        <translation>参数需要密码：请用 --access-code 给出，或在终端上运行以便输入。</translation>
    </message>
    <message>
        <source>Wrong access code.</source>
        <translation>密码错误。</translation>
    </message>
    <message>
        <source>--points: give %1 to %2 points as AV:PV, separated by commas.</source>
        <translation>--points：请给出 %1 到 %2 个标定点，格式 AV:PV，用逗号分隔。</translation>
    </message>
    <message>
        <source>--points: &quot;%1&quot; is not AV:PV.</source>
        <translation>--points：“%1”不是 AV:PV 格式。</translation>
    </message>
    <message>
        <source>--points: the output value %1 is outside 0..%2.</source>
        <translation>--points：输出值 %1 超出 0..%2。</translation>
    </message>
    <message>
        <source>get or set</source>
        <translation>get（读出）或 set（写入）</translation>
    </message>
    <message>
        <source>General parameter: 2..22, or DN, ZerO, PointCount, AVP1..AVP9, PVP1..PVP9.</source>
        <translation>通用参数：2..22，或 DN、ZerO、PointCount、AVP1..AVP9、PVP1..PVP9。</translation>
    </message>
    <message>
        <source>code</source>
        <translation>代码</translation>
    </message>
    <message>
        <source>Value to set: a 32-bit whole number, decimal or hexadecimal after 0x.</source>
        <translation>要写入的值：32 位整数，十进制或以 0x 开头的十六进制。</translation>
    </message>
    <message>
        <source>value</source>
        <translation>值</translation>
    </message>
    <message>
        <source>The user&apos;s or factory access code. Without it the code is asked for on the terminal; with no terminal the command is refused.</source>
        <translation>用户密码或厂家密码。未给出时在终端上询问；没有终端则拒绝执行。</translation>
    </message>
    <message>
        <source>param needs one action: get or set.</source>
        <translation>param 需要一个操作：get 或 set。</translation>
    </message>
    <message>
        <source>--code is needed.</source>
        <translation>缺少 --code。</translation>
    </message>
    <message>
        <source>param set needs --value.</source>
        <translation>param set 需要 --value。</translation>
    </message>
    <message>
        <source>param get takes no --value.</source>
        <translation>param get 不接受 --value。</translation>
    </message>
    <message>
        <source>Parameter %1 of address %2</source>
        <translation>地址 %2 的参数 %1</translation>
    </message>
    <message>
        <source>Written.</source>
        <translation>写入成功！</translation>
    </message>
    <message>
        <source>Pause in milliseconds between reading the zero value and the measured value (default %1).</source>
        <translation>读取零点值与读取测量值之间的间隔，毫秒（默认 %1）。</translation>
    </message>
    <message>
        <source>Writing the zero value</source>
        <translation>写入零点值</translation>
    </message>
    <message>
        <source>Zero value %1 + measured %2 = %3 written.</source>
        <translation>零点值 %1 + 测量值 %2 = %3，已写入。</translation>
    </message>
    <message>
        <source>Calibration points in order, &quot;AV:PV,AV:PV,...&quot; (2..9): the AD code of each load and the output value that belongs to it (0..1000000).</source>
        <translation>按顺序给出标定点 “AV:PV,AV:PV,...”（2..9 个）：每个载荷的 AD 码及其对应的输出值（0..1000000）。</translation>
    </message>
    <message>
        <source>points</source>
        <translation>标定点</translation>
    </message>
    <message>
        <source>--points is needed.</source>
        <translation>缺少 --points。</translation>
    </message>
    <message>
        <source>Clearing the zero value</source>
        <translation>清除零点值</translation>
    </message>
    <message>
        <source>Writing PointCount: no answer within %1 ms.</source>
        <translation>写入 PointCount：%1 毫秒内无应答。</translation>
    </message>
    <message>
        <source>The calibration was stored, but PointCount was not acknowledged.</source>
        <translation>标定已保存，但 PointCount 的写入未得到应答。</translation>
    </message>
    <message>
        <source>Calibration of %1 points stored.</source>
        <translation>%1 点标定已保存。</translation>
    </message>
    <message>
        <source>Also publish every value to this MQTT broker: mqtt://[user[:password]@]host[:port] or mqtts://...</source>
        <translation>同时把每个值发布到此 MQTT 服务器：mqtt://[用户[:密码]@]主机[:端口] 或 mqtts://...</translation>
    </message>
    <message>
        <source>url</source>
        <translation>网址</translation>
    </message>
    <message>
        <source>Line name in the MQTT topics (default line1): kelvarin/&lt;line&gt;/&lt;address&gt;/state.</source>
        <translation>MQTT 主题中的线路名（默认 line1）：kelvarin/&lt;线路&gt;/&lt;地址&gt;/state。</translation>
    </message>
    <message>
        <source>name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>--mqtt: &quot;%1&quot; is no broker URL (mqtt://host[:port] or mqtts://...).</source>
        <translation>--mqtt：“%1”不是服务器网址（mqtt://主机[:端口] 或 mqtts://...）。</translation>
    </message>
    <message>
        <source>--mqtt-line: the line name is empty.</source>
        <translation>--mqtt-line：线路名为空。</translation>
    </message>
    <message>
        <source>MQTT: %1</source>
        <translation>MQTT：%1</translation>
    </message>
    <message>
        <source>MQTT: not every value reached the broker (%1).</source>
        <translation>MQTT：并非所有值都已送达服务器（%1）。</translation>
    </message>
    <message>
        <source>--duration: &quot;%1&quot; is no number of seconds above 0.</source>
        <translation>--duration：“%1”不是大于 0 的秒数。</translation>
    </message>
    <message>
        <source>Stop after this many seconds (Ctrl+C stops at any time).</source>
        <translation>经过这么多秒后停止（随时可按 Ctrl+C 停止）。</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>First address asked (default 1).</source>
        <translation>扫描的起始地址（默认 1）。</translation>
    </message>
    <message>
        <source>Last address asked (default 255).</source>
        <translation>扫描的结束地址（默认 255）。</translation>
    </message>
    <message>
        <source>--timeout: %1 is outside %2..%3.</source>
        <translation>--timeout：%1 超出 %2..%3。</translation>
    </message>
    <message>
        <source>--from %1 lies above --to %2.</source>
        <translation>--from %1 大于 --to %2。</translation>
    </message>
    <message>
        <source>While %1 was asked, a late answer came from %2.</source>
        <translation>询问地址 %1 时，收到地址 %2 的迟到应答。</translation>
    </message>
    <message>
        <source>Bus conflict: while %1 was asked, an answer came from %2.</source>
        <translation>总线冲突：询问地址 %1 时，收到地址 %2 的应答。</translation>
    </message>
    <message>
        <source>Asking address %1 (%2 of %3)...</source>
        <translation>正在询问地址 %1（第 %2 个，共 %3 个）...</translation>
    </message>
    <message>
        <source>The scan could not start.</source>
        <translation>扫描无法开始。</translation>
    </message>
    <message>
        <source>Modules are sending values on their own (automatic sending): switch them off and on, then scan again.</source>
        <translation>有模块正在自动发送：请将其断电再上电，然后重新扫描。</translation>
    </message>
    <message>
        <source>The scan ended: %1</source>
        <translation>扫描结束：%1</translation>
    </message>
    <message>
        <source>The scan ended early.</source>
        <translation>扫描提前结束。</translation>
    </message>
    <message>
        <source>No module answered at addresses %1..%2.</source>
        <translation>地址 %1..%2 上没有模块应答。</translation>
    </message>
    <message>
        <source>Read this many values, then stop.</source>
        <translation>读取这么多个值后停止。</translation>
    </message>
    <message>
        <source>count</source>
        <translation>个数</translation>
    </message>
    <message>
        <source>Milliseconds from one request to the next (default %1).</source>
        <translation>两次请求之间的间隔，毫秒（默认 %1）。</translation>
    </message>
    <message>
        <source>--count and --duration exclude each other.</source>
        <translation>--count 与 --duration 不能同时使用。</translation>
    </message>
    <message>
        <source>Reading address %1</source>
        <translation>读取地址 %1</translation>
    </message>
    <message>
        <source>The port went away: %1</source>
        <translation>串口已断开：%1</translation>
    </message>
    <message>
        <source>Output format: text, csv or json (default text).</source>
        <translation>输出格式：text、csv 或 json（默认 text）。</translation>
    </message>
    <message>
        <source>format</source>
        <translation>格式</translation>
    </message>
    <message>
        <source>Decimals of the value, 0..4 (default 1; the desktop program&apos;s settings are not read).</source>
        <translation>数值的小数位数，0..4（默认 1；不读取桌面程序的设置）。</translation>
    </message>
    <message>
        <source>Unit of the value (default &quot;kg&quot;; the desktop program&apos;s settings are not read).</source>
        <translation>数值的单位（默认 “kg”；不读取桌面程序的设置）。</translation>
    </message>
    <message>
        <source>unit</source>
        <translation>单位</translation>
    </message>
    <message>
        <source>--format: &quot;%1&quot; is none of text, csv, json.</source>
        <translation>--format：“%1”不是 text、csv、json 之一。</translation>
    </message>
    <message>
        <source>Find the modules on the line (asks every address of a range).</source>
        <translation>查找线路上的模块（逐个询问一段地址）。</translation>
    </message>
    <message>
        <source>Read the measured value of one module, repeatedly.</source>
        <translation>反复读取一个模块的测量值。</translation>
    </message>
    <message>
        <source>Read or write a general parameter (codes 2..22).</source>
        <translation>读出或写入通用参数（代码 2..22）。</translation>
    </message>
    <message>
        <source>Zero calibration: the unloaded sensor reads zero afterwards.</source>
        <translation>零点标定：之后空载的传感器读数为零。</translation>
    </message>
    <message>
        <source>Multi-point calibration: write 2..9 points (AD code and output value).</source>
        <translation>多段标定：写入 2..9 个标定点（AD 码和输出值）。</translation>
    </message>
    <message>
        <source>Show the frames on the line, one per line (sends nothing).</source>
        <translation>显示线路上的帧，每帧一行（不发送任何内容）。</translation>
    </message>
    <message>
        <source>Exit status:
  0  success (also after Ctrl+C in read and monitor)
  1  other failure
  2  wrong options or arguments; nothing was sent
  3  the port cannot be opened, or went away
  4  no answer in time (scan: no module found)
  5  a write was not acknowledged
  6  no access code, or a wrong one
</source>
        <translation>退出状态：
  0  成功（read 和 monitor 按 Ctrl+C 停止也是 0）
  1  其他失败
  2  选项或参数错误；未发送任何内容
  3  串口无法打开，或已断开
  4  未按时应答（scan：未找到模块）
  5  写入未得到应答
  6  没有密码，或密码错误
</translation>
    </message>
    <message>
        <source>Usage: kelvarin-cli &lt;subcommand&gt; [options]
Transmitter modules on a serial line, from scripts.

Subcommands:
</source>
        <translation>用法：kelvarin-cli &lt;子命令&gt; [选项]
线路上的变送器模块，供脚本使用。

子命令：
</translation>
    </message>
    <message>
        <source>
&quot;kelvarin-cli &lt;subcommand&gt; --help&quot; lists its options.

</source>
        <translation>
“kelvarin-cli &lt;子命令&gt; --help”列出其选项。

</translation>
    </message>
    <message>
        <source>Show the options of this subcommand.</source>
        <translation>显示此子命令的选项。</translation>
    </message>
    <message>
        <source>Usage: kelvarin-cli %1 [options] %2</source>
        <translation>用法：kelvarin-cli %1 [选项] %2</translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation>多余的参数：%1</translation>
    </message>
    <message>
        <source>Unknown subcommand &quot;%1&quot;; &quot;kelvarin-cli --help&quot; lists them.</source>
        <translation>未知的子命令“%1”；“kelvarin-cli --help”列出所有子命令。</translation>
    </message>
    <message>
        <source>The run could not be started.</source>
        <translation>无法开始运行。</translation>
    </message>
    <message>
        <source>Zero calibration</source>
        <translation>零点标定</translation>
    </message>
    <message>
        <source>Writing the zero value: no answer within %1 ms.</source>
        <translation>写入零点值：%1 毫秒内无应答。</translation>
    </message>
    <message>
        <source>Writing the calibration table</source>
        <translation>写入标定表</translation>
    </message>
    <message>
        <source>--address is needed (a list such as 1,2,3).</source>
        <translation>需要 --address（如 1,2,3 这样的列表）。</translation>
    </message>
    <message>
        <source>--address: &quot;%1&quot; is no bus address 1..255.</source>
        <translation>--address：“%1”不是 1..255 的总线地址。</translation>
    </message>
    <message>
        <source>--address: %1 is given twice.</source>
        <translation>--address：%1 重复给出。</translation>
    </message>
    <message>
        <source>The modules to watch, e.g. 1,2,3,4.</source>
        <translation>要监视的模块，例如 1,2,3,4。</translation>
    </message>
    <message>
        <source>list</source>
        <translation>列表</translation>
    </message>
    <message>
        <source>Add a column with the sum of all modules.</source>
        <translation>增加一列：所有模块之和。</translation>
    </message>
    <message>
        <source>Write the rows to this file (replaced).</source>
        <translation>把各行写入此文件（覆盖）。</translation>
    </message>
    <message>
        <source>file</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Milliseconds from the start of one round to the next (default 0: as fast as the line allows).</source>
        <translation>一轮开始到下一轮开始的毫秒数（默认 0：线路允许的最快速度）。</translation>
    </message>
    <message>
        <source>Stop after this many rounds.</source>
        <translation>轮数达到此值后停止。</translation>
    </message>
    <message>
        <source>Decimals of every module&apos;s value (default 1).</source>
        <translation>各模块数值的小数位数（默认 1）。</translation>
    </message>
    <message>
        <source>n</source>
        <translation>位数</translation>
    </message>
    <message>
        <source>Unit of every module&apos;s value (default kg).</source>
        <translation>各模块数值的单位（默认 kg）。</translation>
    </message>
    <message>
        <source>--csv is needed.</source>
        <translation>需要 --csv。</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>The watch could not start on %1.</source>
        <translation>无法在 %1 上开始监视。</translation>
    </message>
    <message>
        <source>Watch several modules round after round, one CSV row a round, until stopped.</source>
        <translation>逐轮监视多个模块，每轮一行 CSV，直到停止。</translation>
    </message>
</context>
</TS>
