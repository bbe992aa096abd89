<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutBox</name>
    <message>
        <source>关于智能变送器数据采集软件</source>
        <translation>About Smart Transmitter Data Acquisition</translation>
    </message>
    <message>
        <source>智能变送器数据采集软件
版本 %1

串口称重、测力变送器模块的读数、曲线、标定与参数设置。

设置文件：
%2</source>
        <translation>Smart Transmitter Data Acquisition
Version %1

Readings, charts, calibration and parameter settings for weighing and force transmitter modules on a serial line.

Settings file:
%2</translation>
    </message>
    <message>
        <source>

设置未全部保存，文件中没有：
%1</source>
        <translation>

Not all settings were saved; the file lacks:
%1</translation>
    </message>
</context>
<context>
    <name>AppWindows</name>
    <message>
        <source>设置文件 %1 不是本程序能读取的设置文件：
%2

原文件已原样改名保存为 %3，程序使用默认设置并建立了新的设置文件。</source>
        <translation>The settings file %1 is not a settings file this program can read:
%2

The original was kept unchanged as %3; the program uses the default settings and has made a new settings file.</translation>
    </message>
    <message>
        <source>设置文件 %1 无法读取：
%2

本次运行使用默认设置；该文件保持原样，更改的设置不会保存。</source>
        <translation>The settings file %1 cannot be read:
%2

This run uses the default settings; the file is left as it is, and changed settings will not be saved.</translation>
    </message>
    <message>
        <source>设置文件 %1 不是本程序能读取的设置文件：
%2

本次运行使用默认设置；保存设置之前，原文件会原样改名保存在它旁边。</source>
        <translation>The settings file %1 is not a settings file this program can read:
%2

This run uses the default settings; before settings are saved, the original is kept unchanged under another name beside it.</translation>
    </message>
</context>
<context>
    <name>ChartWidget</name>
    <message>
        <source>保存图片</source>
        <translation>Save picture</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>放大（也可用鼠标滚轮，或按住左键框选）</source>
        <translation>Zoom in (or turn the mouse wheel, or drag a box with the left button)</translation>
    </message>
    <message>
        <source>曲线图</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>测量值</source>
        <translation>Samples</translation>
    </message>
    <message>
        <source>滤波值</source>
        <translation>Smoothed</translation>
    </message>
    <message>
        <source>平均值</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>平移</source>
        <translation>Pan</translation>
    </message>
    <message>
        <source>按住鼠标左键拖动图形</source>
        <translation>Drag the chart with the left mouse button held down</translation>
    </message>
    <message>
        <source>全部显示</source>
        <translation>Fit all</translation>
    </message>
    <message>
        <source>显示全部数据</source>
        <translation>Show all data</translation>
    </message>
    <message>
        <source>实时滚动</source>
        <translation>Live scroll</translation>
    </message>
    <message>
        <source>回到实时滚动显示</source>
        <translation>Return to live scrolling</translation>
    </message>
    <message>
        <source>把图形保存为 PNG 图片</source>
        <translation>Save the chart as a PNG image</translation>
    </message>
    <message>
        <source>数据游标</source>
        <translation>Data cursor</translation>
    </message>
    <message>
        <source>显示离鼠标最近的数据点的通道、X、Y 值</source>
        <translation>Show channel, X and Y of the sample nearest to the mouse pointer</translation>
    </message>
    <message>
        <source>时钟时间</source>
        <translation>Clock time</translation>
    </message>
    <message>
        <source>横坐标标为采样的时钟时间（时:分:秒）</source>
        <translation>Label the horizontal axis with the samples&apos; clock time (HH:MM:SS)</translation>
    </message>
    <message>
        <source>图形为空</source>
        <translation>The chart is empty</translation>
    </message>
</context>
<context>
    <name>DeviceLink</name>
    <message>
        <source>读取失败，设备已断开。</source>
        <translation>Read failed: the device was disconnected.</translation>
    </message>
    <message>
        <source>设备无响应（连接已断开）</source>
        <translation>The device does not respond (connection lost)</translation>
    </message>
    <message>
        <source>串口未打开。</source>
        <translation>The serial port is not open.</translation>
    </message>
    <message>
        <source>写入失败，设备已断开。</source>
        <translation>Write failed: the device was disconnected.</translation>
    </message>
    <message>
        <source>串口写入失败：设备已断开。</source>
        <translation>Writing to the serial port failed: the device was disconnected.</translation>
    </message>
    <message>
        <source>串口写入失败：%1</source>
        <translation>Writing to the serial port failed: %1</translation>
    </message>
    <message>
        <source>总线扫描正在进行，请等扫描结束后再试。</source>
        <translation>A bus scan is running; please try again when it has ended.</translation>
    </message>
    <message>
        <source>串口已关闭。</source>
        <translation>The serial port has been closed.</translation>
    </message>
</context>
<context>
    <name>ModuleSession</name>
    <message>
        <source>串口打开失败！</source>
        <translation>Could not open the serial port!</translation>
    </message>
    <message>
        <source>
当前用户无权访问该串口：请把用户加入 &quot;dialout&quot; 组后重新登录。</source>
        <translation>
The current user may not use this serial port: add the user to the &quot;dialout&quot; group and log in again.</translation>
    </message>
</context>
<context>
    <name>MqttPublisher</name>
    <message>
        <source>已连接</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>未连接：%1</source>
        <translation>Not connected: %1</translation>
    </message>
    <message>
        <source>未启动</source>
        <translation>not started</translation>
    </message>
    <message>
        <source>代理地址无效：%1</source>
        <translation>invalid broker address: %1</translation>
    </message>
    <message>
        <source>无法读取证书文件：%1</source>
        <translation>cannot read the CA file: %1</translation>
    </message>
    <message>
        <source>正在连接 %1</source>
        <translation>connecting to %1</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>stopped</translation>
    </message>
</context>
<context>
    <name>ParameterCatalogue</name>
    <message>
        <source>设备编号(DN)</source>
        <translation>Device number (DN)</translation>
    </message>
    <message>
        <source>零点值(ZerO)</source>
        <translation>Zero value (ZerO)</translation>
    </message>
    <message>
        <source>标定点数(PointCount)</source>
        <translation>Calibration points (PointCount)</translation>
    </message>
    <message>
        <source>标定点%1输入值(AVP%1)</source>
        <translation>Calibration point %1 input value (AVP%1)</translation>
    </message>
    <message>
        <source>标定点%1显示值(PVP%1)</source>
        <translation>Calibration point %1 display value (PVP%1)</translation>
    </message>
</context>
<context>
    <name>Prompter</name>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>ProtocolMonitorModel</name>
    <message>
        <source>时间(ms)</source>
        <translation>Time (ms)</translation>
    </message>
    <message>
        <source>时刻</source>
        <translation>Time of day</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>命令</source>
        <translation>Command</translation>
    </message>
    <message>
        <source>代码</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>原始字节</source>
        <translation>Raw bytes</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Checksum</translation>
    </message>
    <message>
        <source>结束符</source>
        <translation>Terminator</translation>
    </message>
    <message>
        <source>正确</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>接收</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>无帧字节</source>
        <translation>Unframed bytes</translation>
    </message>
    <message>
        <source>未知命令</source>
        <translation>Unknown command</translation>
    </message>
</context>
<context>
    <name>RecordingJournal</name>
    <message>
        <source>记录文件正由另一个运行中的程序使用。</source>
        <translation>The journal file is in use by another running program.</translation>
    </message>
    <message>
        <source>无法锁定记录文件 %1。</source>
        <translation>Cannot lock the journal file %1.</translation>
    </message>
    <message>
        <source>记录文件的锁 %1 无法判断（空的、无法读取或来自另一台计算机）。</source>
        <translation>The journal&apos;s lock %1 cannot be judged (empty, unreadable or from another computer).</translation>
    </message>
    <message>
        <source>记录文件 %1 无法改名。</source>
        <translation>The journal file %1 cannot be renamed.</translation>
    </message>
</context>
<context>
    <name>TfrmBusScan</name>
    <message>
        <source>总线扫描</source>
        <translation>Bus Scan</translation>
    </message>
    <message>
        <source>起始地址</source>
        <translation>First address</translation>
    </message>
    <message>
        <source>结束地址</source>
        <translation>Last address</translation>
    </message>
    <message>
        <source>超时(ms)</source>
        <translation>Time-out (ms)</translation>
    </message>
    <message>
        <source>开始扫描(&amp;S)</source>
        <translation>&amp;Start scan</translation>
    </message>
    <message>
        <source>停止(&amp;T)</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>测量值</source>
        <translation>Measured value</translation>
    </message>
    <message>
        <source>应答时间(ms)</source>
        <translation>Reply time (ms)</translation>
    </message>
    <message>
        <source>总线冲突</source>
        <translation>Bus conflicts</translation>
    </message>
    <message>
        <source>询问地址</source>
        <translation>Address asked</translation>
    </message>
    <message>
        <source>应答地址</source>
        <translation>Address replied</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Remark</translation>
    </message>
    <message>
        <source>设为当前地址(&amp;U)</source>
        <translation>&amp;Use as current address</translation>
    </message>
    <message>
        <source>关闭(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>串口未打开，不能扫描。请先打开串口。</source>
        <translation>The serial port is not open, so the bus cannot be scanned. Open the port first.</translation>
    </message>
    <message>
        <source>正在实时读数，不能扫描。请先停止读数。</source>
        <translation>Live reading is running, so the bus cannot be scanned. Stop reading first.</translation>
    </message>
    <message>
        <source>串口正在等待其他操作的应答，请稍后再扫描。</source>
        <translation>The serial port is waiting for the reply to another operation; scan again later.</translation>
    </message>
    <message>
        <source>起始地址不能大于结束地址。</source>
        <translation>The first address cannot be greater than the last address.</translation>
    </message>
    <message>
        <source>正在停止...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>正在实时读数，不能更改当前地址。请先停止读数。</source>
        <translation>Live reading is running, so the current address cannot be changed. Stop reading first.</translation>
    </message>
    <message>
        <source>当前地址已设为 %1</source>
        <translation>Current address set to %1</translation>
    </message>
    <message>
        <source>正在检查总线是否空闲...</source>
        <translation>Checking that the bus is idle...</translation>
    </message>
    <message>
        <source>正在询问地址 %1（%2/%3）</source>
        <translation>Asking address %1 (%2/%3)</translation>
    </message>
    <message>
        <source>未读到</source>
        <translation>Not read</translation>
    </message>
    <message>
        <source>地址 %1 的模块超时后才应答，请加大超时时间</source>
        <translation>The module at address %1 replied after the time-out; increase the time-out</translation>
    </message>
    <message>
        <source>同一地址有多个模块应答（地址重复）</source>
        <translation>Several modules replied at one address (duplicate address)</translation>
    </message>
    <message>
        <source>询问地址 %1 时地址 %2 应答</source>
        <translation>Address %2 replied when address %1 was asked</translation>
    </message>
    <message>
        <source>扫描完成：找到 %1 个模块</source>
        <translation>Scan complete: %1 module(s) found</translation>
    </message>
    <message>
        <source>扫描已停止：找到 %1 个模块</source>
        <translation>Scan stopped: %1 module(s) found</translation>
    </message>
    <message>
        <source>未询问就收到了应答：总线上有模块处于自动发送状态，不能扫描。请将模块重新上电（取消自动发送）后再扫描。</source>
        <translation>A reply arrived without a request: a module on the bus is sending automatically, so the bus cannot be scanned. Power the module up again (which ends automatic sending), then scan again.</translation>
    </message>
    <message>
        <source>实时读数已开始，扫描已停止。</source>
        <translation>Live reading started; the scan was stopped.</translation>
    </message>
    <message>
        <source>其他操作正在使用串口，扫描已停止。</source>
        <translation>Another operation is using the serial port; the scan was stopped.</translation>
    </message>
    <message>
        <source>串口已关闭，扫描已停止。</source>
        <translation>The serial port was closed; the scan was stopped.</translation>
    </message>
    <message>
        <source>扫描已停止：%1</source>
        <translation>Scan stopped: %1</translation>
    </message>
    <message>
        <source>将找到的模块加入监视(&amp;W)</source>
        <translation>Add found modules to &amp;watch</translation>
    </message>
    <message>
        <source>没有找到模块。请先扫描总线。</source>
        <translation>No modules found. Scan the bus first.</translation>
    </message>
</context>
<context>
    <name>TfrmCalibrate</name>
    <message>
        <source>正在标定</source>
        <translation>Calibrating</translation>
    </message>
    <message>
        <source>请输入当前载荷对应输出值</source>
        <translation>Enter the output value for the present load</translation>
    </message>
    <message>
        <source>读取的AD码</source>
        <translation>AD code read</translation>
    </message>
    <message>
        <source>当前标定点</source>
        <translation>Current point</translation>
    </message>
    <message>
        <source>可标定点总数</source>
        <translation>Points available</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>标定此点(&amp;C)</source>
        <translation>&amp;Calibrate this point</translation>
    </message>
    <message>
        <source>下一点(&amp;N)</source>
        <translation>&amp;Next point</translation>
    </message>
    <message>
        <source>完成标定(&amp;E)</source>
        <translation>&amp;End calibration</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>Read timed out!</translation>
    </message>
    <message>
        <source>写入失败！</source>
        <translation>Write failed!</translation>
    </message>
    <message>
        <source>设置成功！</source>
        <translation>Set OK!</translation>
    </message>
    <message>
        <source>标定中...</source>
        <translation>Calibrating...</translation>
    </message>
    <message>
        <source>写入成功！</source>
        <translation>Write OK!</translation>
    </message>
    <message>
        <source>标定成功！</source>
        <translation>Calibration OK!</translation>
    </message>
    <message>
        <source>标定失败！</source>
        <translation>Calibration failed!</translation>
    </message>
    <message>
        <source>重新标定此点(&amp;C)</source>
        <translation>Re&amp;calibrate this point</translation>
    </message>
    <message>
        <source>标定未完成：标定表未保存到模块。</source>
        <translation>Calibration not completed: the calibration table was not stored in the module.</translation>
    </message>
    <message>
        <source>标定未完成：模块未确认保存标定表。</source>
        <translation>Calibration not completed: the module did not confirm storing the calibration table.</translation>
    </message>
</context>
<context>
    <name>TfrmEditParam</name>
    <message>
        <source>参数编辑</source>
        <translation>Edit Parameter</translation>
    </message>
    <message>
        <source>当前值:</source>
        <translation>Current value:</translation>
    </message>
    <message>
        <source>读出(&amp;R)</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>写入(&amp;W)</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>读取成功！</source>
        <translation>Read OK!</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>Read timed out!</translation>
    </message>
    <message>
        <source>写入成功！</source>
        <translation>Write OK!</translation>
    </message>
    <message>
        <source>写入超时！</source>
        <translation>Write timed out!</translation>
    </message>
    <message>
        <source>请检查输入的参数值！</source>
        <translation>Please check the parameter value entered!</translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>智能变送器数据采集软件 V140208</source>
        <translation>Smart Transmitter Data Acquisition V140208</translation>
    </message>
    <message>
        <source>串 口 号</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>打开串口(&amp;O)</source>
        <translation>&amp;Open port</translation>
    </message>
    <message>
        <source>开始读数(&amp;B)</source>
        <translation>Start &amp;reading</translation>
    </message>
    <message>
        <source>模块参数(&amp;P)</source>
        <translation>&amp;Parameters</translation>
    </message>
    <message>
        <source>系统设置(&amp;D)</source>
        <translation>Se&amp;ttings</translation>
    </message>
    <message>
        <source>导出数据(&amp;E)</source>
        <translation>&amp;Export data</translation>
    </message>
    <message>
        <source>读取模块地址(广播)</source>
        <translation>Read the module address (broadcast)</translation>
    </message>
    <message>
        <source>读地址</source>
        <translation>Read address</translation>
    </message>
    <message>
        <source>设定地址(&amp;A)</source>
        <translation>Set &amp;address</translation>
    </message>
    <message>
        <source>多段标定(&amp;M)</source>
        <translation>&amp;Multi-point</translation>
    </message>
    <message>
        <source>零点标定(&amp;Z)</source>
        <translation>&amp;Zero</translation>
    </message>
    <message>
        <source>滤波(&amp;F)</source>
        <translation>&amp;Filter</translation>
    </message>
    <message>
        <source>导入数据(&amp;I)</source>
        <translation>&amp;Import data</translation>
    </message>
    <message>
        <source>0.0000kg</source>
        <translation>0.0000kg</translation>
    </message>
    <message>
        <source>显示数据点(&amp;V)</source>
        <translation>Sho&amp;w data points</translation>
    </message>
    <message>
        <source>清空(&amp;C)</source>
        <translation>&amp;Clear</translation>
    </message>
    <message>
        <source>上传AD码</source>
        <translation>Upload AD codes</translation>
    </message>
    <message>
        <source>滤波级数：32</source>
        <translation>Filter level: 32</translation>
    </message>
    <message>
        <source>图形控制菜单(&amp;M)</source>
        <translation>Chart &amp;toolbar</translation>
    </message>
    <message>
        <source>F1</source>
        <translation>F1</translation>
    </message>
    <message>
        <source>F2</source>
        <translation>F2</translation>
    </message>
    <message>
        <source>评估(&amp;E)</source>
        <translation>&amp;Evaluate</translation>
    </message>
    <message>
        <source>系统参数设置(&amp;S)</source>
        <translation>&amp;System parameters</translation>
    </message>
    <message>
        <source>F3</source>
        <translation>F3</translation>
    </message>
    <message>
        <source>数据导出(&amp;E)</source>
        <translation>E&amp;xport data</translation>
    </message>
    <message>
        <source>F4</source>
        <translation>F4</translation>
    </message>
    <message>
        <source>窗口总在最前面(&amp;F)</source>
        <translation>Always in &amp;front</translation>
    </message>
    <message>
        <source>关闭串口(&amp;E)</source>
        <translation>C&amp;lose port</translation>
    </message>
    <message>
        <source>停止读数(&amp;S)</source>
        <translation>&amp;Stop reading</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>Read timed out!</translation>
    </message>
    <message>
        <source>读取成功！</source>
        <translation>Read OK!</translation>
    </message>
    <message>
        <source>写入超时！</source>
        <translation>Write timed out!</translation>
    </message>
    <message>
        <source>设置成功！</source>
        <translation>Set OK!</translation>
    </message>
    <message>
        <source>写入成功！</source>
        <translation>Write OK!</translation>
    </message>
    <message>
        <source>写入失败！</source>
        <translation>Write failed!</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>此操作将使模块进入自动发送状态，继续吗？（再次上电自动取消自动发送）</source>
        <translation>This puts the module into automatic sending. Continue? (Automatic sending ends when the module is powered up again.)</translation>
    </message>
    <message>
        <source>设置无法写入文件 %1：
%2

程序继续工作，但本次运行中更改的设置可能不会保存。</source>
        <translation>The settings could not be written to the file %1:
%2

The program keeps working, but settings changed during this run may not be saved.</translation>
    </message>
    <message>
        <source>滤波级数：</source>
        <translation>Filter level: </translation>
    </message>
    <message>
        <source>文本文件(*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>正在导出数据...</source>
        <translation>Exporting data...</translation>
    </message>
    <message>
        <source>正在导入数据...</source>
        <translation>Importing data...</translation>
    </message>
    <message>
        <source>导入已取消：已读入的 %1 个点保留在曲线中，未画均值线。</source>
        <translation>Import cancelled: the %1 points read so far stay in the chart; no mean line was drawn.</translation>
    </message>
    <message>
        <source>内存不足：新的读数无法再加入曲线，已有的数据保留。</source>
        <translation>Out of memory: new readings can no longer be added to the chart; the data already there is kept.</translation>
    </message>
    <message>
        <source>串口连接已断开，串口已关闭。
%1</source>
        <translation>The serial connection was lost; the port has been closed.
%1</translation>
    </message>
    <message>
        <source>内存不足：滤波未能完成，滤波曲线不完整。</source>
        <translation>Out of memory: the filtering could not be completed; the filtered curve is incomplete.</translation>
    </message>
    <message>
        <source>协议监视器(&amp;M)...</source>
        <translation>Protocol &amp;monitor...</translation>
    </message>
    <message>
        <source>总线扫描(&amp;N)...</source>
        <translation>Bus sca&amp;n...</translation>
    </message>
    <message>
        <source>关于(&amp;A)...</source>
        <translation>&amp;About...</translation>
    </message>
    <message>
        <source>上次运行未正常结束，记录中有 %1 个未保存的采样（%2 至 %3）。%4是否恢复到曲线中？</source>
        <translation>The last run did not end normally; the journal holds %1 unsaved samples (%2 to %3). %4Restore them to the chart?</translation>
    </message>
    <message>
        <source>内存不足：记录中的采样未能全部恢复到曲线中。</source>
        <translation>Out of memory: not all samples of the journal could be restored to the chart.</translation>
    </message>
    <message>
        <source>记录文件 %1 无法写入：
%2

曲线照常记录，但程序意外退出时这些采样可能无法恢复。</source>
        <translation>The journal file %1 cannot be written:
%2

The chart records as usual, but these samples may be lost if the program ends unexpectedly.</translation>
    </message>
    <message>
        <source>丢弃的错误帧：%1</source>
        <translation>Faulty frames dropped: %1</translation>
    </message>
    <message>
        <source>记录文件 %1 不是普通文件，未读取，保持原样：
%2

本次运行不保留记录，程序意外退出时采样无法恢复。</source>
        <translation>The journal file %1 is not a regular file; it was not read and is left as it is:
%2

This run keeps no journal: samples cannot be restored if the program ends unexpectedly.</translation>
    </message>
    <message>
        <source>记录文件 %1 正由另一个运行中的程序使用：本次运行不保留记录，程序意外退出时采样无法恢复。</source>
        <translation>The journal file %1 is in use by another running program: this run keeps no journal, and samples cannot be restored if the program ends unexpectedly.</translation>
    </message>
    <message>
        <source>无法判断记录文件 %1 是否正由另一个程序使用（锁文件 %2 为空、无法读取或来自另一台计算机）。

没有别的程序使用它时，选“是”接管记录文件；选“否”则本次运行不保留记录，程序意外退出时采样无法恢复。</source>
        <translation>It cannot be judged whether another program uses the journal file %1 (the lock file %2 is empty, unreadable or from another computer).

If no other program uses it, choose Yes to take the journal over; with No this run keeps no journal, and samples cannot be restored if the program ends unexpectedly.</translation>
    </message>
    <message>
        <source>本次运行不保留记录。</source>
        <translation>This run keeps no journal.</translation>
    </message>
    <message>
        <source>上次运行的记录文件 %1 无法读取：
%2</source>
        <translation>The journal of the last run, %1, cannot be read:
%2</translation>
    </message>
    <message>
        <source>上次运行的记录文件 %1 已损坏，没有可恢复的采样（%2 字节无法读出）。</source>
        <translation>The journal of the last run, %1, is damaged and holds no samples to restore (%2 bytes cannot be read).</translation>
    </message>
    <message>
        <source>
该文件已改名保存为 %1。</source>
        <translation>
The file was kept as %1.</translation>
    </message>
    <message>
        <source>记录文件有损坏之处，约 %1 个采样因此丢失。</source>
        <translation>The journal is damaged in places; about %1 samples were lost to the damage. </translation>
    </message>
    <message>
        <source>记录文件有 %1 字节损坏，无法读出。</source>
        <translation>%1 bytes of the journal are damaged and cannot be read. </translation>
    </message>
    <message>
        <source>MQTT 发布(&amp;Q)...</source>
        <translation>M&amp;QTT publishing...</translation>
    </message>
    <message>
        <source>MQTT：已连接</source>
        <translation>MQTT: connected</translation>
    </message>
    <message>
        <source>MQTT：未连接</source>
        <translation>MQTT: not connected</translation>
    </message>
    <message>
        <source>总线监视(&amp;W)...</source>
        <translation>Bus &amp;Watch...</translation>
    </message>
</context>
<context>
    <name>TfrmMqttSettings</name>
    <message>
        <source>MQTT 发布</source>
        <translation>MQTT Publishing</translation>
    </message>
    <message>
        <source>将测量值发布到 MQTT 服务器(&amp;P)</source>
        <translation>&amp;Publish the measured values to an MQTT broker</translation>
    </message>
    <message>
        <source>服务器地址(&amp;B)</source>
        <translation>&amp;Broker address</translation>
    </message>
    <message>
        <source>mqtt://主机:端口（默认端口 1883）或 mqtts://主机:端口（TLS，默认端口 8883）</source>
        <translation>mqtt://host:port (port 1883 by default) or mqtts://host:port (TLS, port 8883 by default)</translation>
    </message>
    <message>
        <source>生产线名称(&amp;L)</source>
        <translation>&amp;Line name</translation>
    </message>
    <message>
        <source>主题中的生产线名称：kelvarin/&lt;名称&gt;/&lt;地址&gt;/state</source>
        <translation>The line&apos;s name in the topics: kelvarin/&lt;name&gt;/&lt;address&gt;/state</translation>
    </message>
    <message>
        <source>用户名(&amp;U)</source>
        <translation>&amp;User name</translation>
    </message>
    <message>
        <source>密码(&amp;W)</source>
        <translation>Pass&amp;word</translation>
    </message>
    <message>
        <source>密码以明文保存在设置文件 Data.ini 中。</source>
        <translation>The password is stored as plain text in the settings file Data.ini.</translation>
    </message>
    <message>
        <source>CA 证书文件(&amp;C)</source>
        <translation>&amp;CA file</translation>
    </message>
    <message>
        <source>mqtts 连接使用的 CA 证书（PEM）；为空时使用系统的证书。</source>
        <translation>CA certificates (PEM) for mqtts connections; empty: the system&apos;s certificates.</translation>
    </message>
    <message>
        <source>浏览(&amp;R)...</source>
        <translation>B&amp;rowse...</translation>
    </message>
    <message>
        <source>每个模块每秒最多发布(&amp;M)</source>
        <translation>&amp;Most values per module per second</translation>
    </message>
    <message>
        <source>个值</source>
        <translation>values</translation>
    </message>
    <message>
        <source>Home Assistant 自动发现(&amp;H)</source>
        <translation>&amp;Home Assistant discovery</translation>
    </message>
    <message>
        <source>确定(&amp;O)</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>未启用</source>
        <translation>not enabled</translation>
    </message>
    <message>
        <source>状态：%1</source>
        <translation>Status: %1</translation>
    </message>
    <message>
        <source>状态：%1
已发布 %2，丢弃 %3，限流替换 %4</source>
        <translation>Status: %1
Published %2, dropped %3, replaced by the rate limit %4</translation>
    </message>
    <message>
        <source>服务器地址“%1”无效，应为 mqtt://主机:端口 或 mqtts://主机:端口。</source>
        <translation>The broker address &quot;%1&quot; is not valid; it must be mqtt://host:port or mqtts://host:port.</translation>
    </message>
    <message>
        <source>设置未能写入文件 Data.ini：</source>
        <translation>The settings could not be written to the file Data.ini: </translation>
    </message>
    <message>
        <source>CA 证书 (*.pem *.crt);;所有文件 (*)</source>
        <translation>CA certificates (*.pem *.crt);;All files (*)</translation>
    </message>
</context>
<context>
    <name>TfrmParam</name>
    <message>
        <source>参数管理</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>参数名称</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>全部读出(&amp;R)</source>
        <translation>&amp;Read all</translation>
    </message>
    <message>
        <source>特殊参数(&amp;S)</source>
        <translation>&amp;Special parameters</translation>
    </message>
</context>
<context>
    <name>TfrmPassword</name>
    <message>
        <source>参数编辑</source>
        <translation>Edit Parameters</translation>
    </message>
    <message>
        <source>警告！错误的参数将使设备无法正常运行，请谨慎操作！</source>
        <translation>Warning! Wrong parameters will keep the device from working properly. Proceed with care!</translation>
    </message>
    <message>
        <source>请输入密码：</source>
        <translation>Enter the password:</translation>
    </message>
    <message>
        <source>确定(&amp;O)</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>取消(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
</context>
<context>
    <name>TfrmProtocolMonitor</name>
    <message>
        <source>协议监视器</source>
        <translation>Protocol Monitor</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>复制所选</source>
        <translation>Copy selected</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>文本文件 (*.txt);;所有文件 (*)</source>
        <translation>Text files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>保存失败：%1</source>
        <translation>Saving failed: %1</translation>
    </message>
    <message>
        <source>帧：%1&#x3000;无帧字节：%2&#x3000;列表：%3 行&#x3000;已丢弃较早的：%4 行</source>
        <translation>Frames: %1   Unframed bytes: %2   List: %3 rows   Older rows dropped: %4</translation>
    </message>
    <message>
        <source>&#x3000;已暂停，%1 行待显示</source>
        <translation>   Paused, %1 rows waiting</translation>
    </message>
    <message>
        <source>接收</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>结束符</source>
        <translation>Terminator</translation>
    </message>
    <message>
        <source>&#x3000;丢弃的错误帧：%1</source>
        <translation>   Faulty frames dropped: %1</translation>
    </message>
</context>
<context>
    <name>TfrmReadAllParam</name>
    <message>
        <source>读出全部参数</source>
        <translation>Read All Parameters</translation>
    </message>
    <message>
        <source>读取中，请稍候...</source>
        <translation>Reading, please wait...</translation>
    </message>
    <message>
        <source>中断(&amp;A)</source>
        <translation>&amp;Abort</translation>
    </message>
    <message>
        <source>参数读取结束</source>
        <translation>All parameters read</translation>
    </message>
    <message>
        <source>读取已中断</source>
        <translation>Reading aborted</translation>
    </message>
    <message>
        <source>确定(&amp;O)</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>退出(&amp;E)</source>
        <translation>&amp;Exit</translation>
    </message>
    <message>
        <source>读取成功！</source>
        <translation>: read OK</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>: read timed out!</translation>
    </message>
</context>
<context>
    <name>TfrmSpecialParams</name>
    <message>
        <source>特殊参数配置</source>
        <translation>Special Parameters</translation>
    </message>
    <message>
        <source>信号输入</source>
        <translation>Signal input</translation>
    </message>
    <message>
        <source>信号输入类型</source>
        <translation>Input signal type</translation>
    </message>
    <message>
        <source>桥式应变传感器</source>
        <translation>Strain-gauge bridge</translation>
    </message>
    <message>
        <source>0~5V电压输入</source>
        <translation>0~5 V voltage input</translation>
    </message>
    <message>
        <source>4~20mA电流输入</source>
        <translation>4~20 mA current input</translation>
    </message>
    <message>
        <source>AD转换速度</source>
        <translation>AD conversion rate</translation>
    </message>
    <message>
        <source>普通(10SPS)</source>
        <translation>Normal (10 SPS)</translation>
    </message>
    <message>
        <source>高速(80SPS)</source>
        <translation>Fast (80 SPS)</translation>
    </message>
    <message>
        <source>控制输出板</source>
        <translation>Control output board</translation>
    </message>
    <message>
        <source>控制输出扩展板类型</source>
        <translation>Output expansion board type</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>双路继电器接点输出</source>
        <translation>Two relay contact outputs</translation>
    </message>
    <message>
        <source>变送输出：0~5V</source>
        <translation>Analog output: 0~5 V</translation>
    </message>
    <message>
        <source>变送输出：4~20mA</source>
        <translation>Analog output: 4~20 mA</translation>
    </message>
    <message>
        <source>控制码</source>
        <translation>Control code</translation>
    </message>
    <message>
        <source>变送输出</source>
        <translation>Analog output</translation>
    </message>
    <message>
        <source>量程下限:</source>
        <translation>Range low:</translation>
    </message>
    <message>
        <source>量程上限:</source>
        <translation>Range high:</translation>
    </message>
    <message>
        <source>变送校准比例:</source>
        <translation>Output calibration scale:</translation>
    </message>
    <message>
        <source>变送校准偏移:</source>
        <translation>Output calibration offset:</translation>
    </message>
    <message>
        <source>控制点 1</source>
        <translation>Control point 1</translation>
    </message>
    <message>
        <source>控制方式</source>
        <translation>Control mode</translation>
    </message>
    <message>
        <source>无     </source>
        <translation>None     </translation>
    </message>
    <message>
        <source>下限   </source>
        <translation>Low limit   </translation>
    </message>
    <message>
        <source>上限    </source>
        <translation>High limit    </translation>
    </message>
    <message>
        <source>设定值:</source>
        <translation>Set point:</translation>
    </message>
    <message>
        <source>回差:</source>
        <translation>Hysteresis:</translation>
    </message>
    <message>
        <source>控制点 2</source>
        <translation>Control point 2</translation>
    </message>
    <message>
        <source>下限    </source>
        <translation>Low limit    </translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>变送输出参数</source>
        <translation>Analog output parameters</translation>
    </message>
    <message>
        <source>变送输出模式</source>
        <translation>Analog output mode</translation>
    </message>
    <message>
        <source>普通方式</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>特殊方式</source>
        <translation>Special</translation>
    </message>
    <message>
        <source>特殊变送参数</source>
        <translation>Special output parameters</translation>
    </message>
    <message>
        <source>第1点显示值</source>
        <translation>Point 1 display value</translation>
    </message>
    <message>
        <source>第1点输出值</source>
        <translation>Point 1 output value</translation>
    </message>
    <message>
        <source>第2点显示值</source>
        <translation>Point 2 display value</translation>
    </message>
    <message>
        <source>第2点输出值</source>
        <translation>Point 2 output value</translation>
    </message>
    <message>
        <source>第3点显示值</source>
        <translation>Point 3 display value</translation>
    </message>
    <message>
        <source>第3点输出值</source>
        <translation>Point 3 output value</translation>
    </message>
    <message>
        <source>点动ON时间</source>
        <translation>Pulse ON time</translation>
    </message>
    <message>
        <source>点动OFF时间</source>
        <translation>Pulse OFF time</translation>
    </message>
    <message>
        <source>其它参数</source>
        <translation>Other parameters</translation>
    </message>
    <message>
        <source>滤波级数(0-5)</source>
        <translation>Filter level (0-5)</translation>
    </message>
    <message>
        <source>滤波带(0-1000)</source>
        <translation>Filter band (0-1000)</translation>
    </message>
    <message>
        <source>读出(&amp;R)</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>写入(&amp;W)</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>R</source>
        <translation>R</translation>
    </message>
    <message>
        <source>W</source>
        <translation>W</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>Read timed out!</translation>
    </message>
    <message>
        <source>写入失败！</source>
        <translation>Write failed!</translation>
    </message>
    <message>
        <source>       写入成功！     </source>
        <translation>       Written successfully!     </translation>
    </message>
    <message>
        <source>0~5V变送输出</source>
        <translation>0~5 V analog output</translation>
    </message>
    <message>
        <source>4~20mA变送输出</source>
        <translation>4~20 mA analog output</translation>
    </message>
</context>
<context>
    <name>TfrmSystemParams</name>
    <message>
        <source>显示参数</source>
        <translation>Display Parameters</translation>
    </message>
    <message>
        <source>显示小数点</source>
        <translation>Decimal places</translation>
    </message>
    <message>
        <source>工程单位</source>
        <translation>Engineering unit</translation>
    </message>
    <message>
        <source>kg</source>
        <translation>kg</translation>
    </message>
    <message>
        <source>曲线Y轴最小值</source>
        <translation>Chart Y axis minimum</translation>
    </message>
    <message>
        <source>曲线Y轴最大值</source>
        <translation>Chart Y axis maximum</translation>
    </message>
    <message>
        <source>采集间隔时间</source>
        <translation>Sampling interval</translation>
    </message>
    <message>
        <source>毫秒</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>通讯波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>57600</source>
        <translation>57600</translation>
    </message>
    <message>
        <source>38400</source>
        <translation>38400</translation>
    </message>
    <message>
        <source>28800</source>
        <translation>28800</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>600</source>
        <translation>600</translation>
    </message>
    <message>
        <source>300</source>
        <translation>300</translation>
    </message>
    <message>
        <source>确定(&amp;O)</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>设置未能写入文件 Data.ini：</source>
        <translation>The settings could not be written to the file Data.ini: </translation>
    </message>
    <message>
        <source>波特率“%1”不是有效的整数，请选择一个波特率。</source>
        <translation>The baud rate &quot;%1&quot; is not a valid whole number; please choose a baud rate.</translation>
    </message>
</context>
<context>
    <name>TfrmWatch</name>
    <message>
        <source>总线监视</source>
        <translation>Bus Watch</translation>
    </message>
    <message>
        <source>开始监视(&amp;S)</source>
        <translation>&amp;Start Watch</translation>
    </message>
    <message>
        <source>停止监视(&amp;T)</source>
        <translation>S&amp;top Watch</translation>
    </message>
    <message>
        <source>间隔(ms)</source>
        <translation>Interval (ms)</translation>
    </message>
    <message>
        <source>统计时长(s)</source>
        <translation>Statistics (s)</translation>
    </message>
    <message>
        <source>按图表可见范围统计(&amp;V)</source>
        <translation>Statistics of &amp;visible range</translation>
    </message>
    <message>
        <source>报警时响铃(&amp;P)</source>
        <translation>Bee&amp;p on alarm</translation>
    </message>
    <message>
        <source>设置模块(&amp;M)...</source>
        <translation>&amp;Modules...</translation>
    </message>
    <message>
        <source>确认报警(&amp;A)</source>
        <translation>&amp;Acknowledge</translation>
    </message>
    <message>
        <source>保存报警列表(&amp;L)...</source>
        <translation>Save alarm &amp;list...</translation>
    </message>
    <message>
        <source>清除数据(&amp;C)</source>
        <translation>&amp;Clear Data</translation>
    </message>
    <message>
        <source>仅导出可见范围(&amp;R)</source>
        <translation>Export visible &amp;range only</translation>
    </message>
    <message>
        <source>导出 CSV(&amp;E)...</source>
        <translation>&amp;Export CSV...</translation>
    </message>
    <message>
        <source>导入 CSV(&amp;I)...</source>
        <translation>&amp;Import CSV...</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>没有可导出的数据。</source>
        <translation>There is no data to export.</translation>
    </message>
    <message>
        <source>正在导出数据...</source>
        <translation>Exporting data...</translation>
    </message>
    <message>
        <source>数据已导出到 %1</source>
        <translation>Data exported to %1</translation>
    </message>
    <message>
        <source>导出已取消，文件未写入。</source>
        <translation>Export cancelled; no file written.</translation>
    </message>
    <message>
        <source>数据无法导出：%1</source>
        <translation>The data could not be exported: %1</translation>
    </message>
    <message>
        <source>正在监视，不能导入。请先停止监视。</source>
        <translation>Watching; cannot import. Stop the watch first.</translation>
    </message>
    <message>
        <source>导入</source>
        <translation>Importing</translation>
    </message>
    <message>
        <source>正在导入数据...</source>
        <translation>Importing data...</translation>
    </message>
    <message>
        <source>已导入 %1</source>
        <translation>Imported %1</translation>
    </message>
    <message>
        <source>导入已取消，已读入的数据保留在图表中。</source>
        <translation>Import cancelled; the data read so far stays in the chart.</translation>
    </message>
    <message>
        <source>数据无法导入：%1</source>
        <translation>The data could not be imported: %1</translation>
    </message>
    <message>
        <source>合计</source>
        <translation>Sum</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>差值</source>
        <translation>Difference</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>应答</source>
        <translation>Answers</translation>
    </message>
    <message>
        <source>超时</source>
        <translation>Time-outs</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>标准差</source>
        <translation>Std. dev.</translation>
    </message>
    <message>
        <source>监视设置无法写入设置文件：%1</source>
        <translation>The watch setup could not be written to the settings file: %1</translation>
    </message>
    <message>
        <source>模块 %1</source>
        <translation>Module %1</translation>
    </message>
    <message>
        <source>添加模块</source>
        <translation>Adding modules</translation>
    </message>
    <message>
        <source>监视列表中没有模块。请先设置模块或从总线扫描添加。</source>
        <translation>The watch has no modules. Set them up first or add them from the bus scan.</translation>
    </message>
    <message>
        <source>串口未打开，不能监视。请先打开串口。</source>
        <translation>The serial port is not open; cannot watch. Open the port first.</translation>
    </message>
    <message>
        <source>总线扫描正在进行，请等扫描结束后再试。</source>
        <translation>A bus scan is running; try again when it has ended.</translation>
    </message>
    <message>
        <source>开始监视</source>
        <translation>Starting the watch</translation>
    </message>
    <message>
        <source>监视无法开始。</source>
        <translation>The watch could not start.</translation>
    </message>
    <message>
        <source>监视已停止：串口已关闭。</source>
        <translation>The watch stopped: the serial port was closed.</translation>
    </message>
    <message>
        <source>监视已停止：%1</source>
        <translation>The watch stopped: %1</translation>
    </message>
    <message>
        <source>监视已停止</source>
        <translation>Watch stopped</translation>
    </message>
    <message>
        <source>更改模块或计算通道</source>
        <translation>Changing the modules or channels</translation>
    </message>
    <message>
        <source>等待应答</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>未应答</source>
        <translation>No answer</translation>
    </message>
    <message>
        <source>失去联系</source>
        <translation>Lost</translation>
    </message>
    <message>
        <source>超限报警</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>超限（已确认）</source>
        <translation>Outside (acknowledged)</translation>
    </message>
    <message>
        <source>已回到限内，待确认</source>
        <translation>Back inside, not acknowledged</translation>
    </message>
    <message>
        <source>报警：%1 = %2%3，高于上限 %4%3</source>
        <translation>Alarm: %1 = %2%3, above the high limit %4%3</translation>
    </message>
    <message>
        <source>报警：%1 = %2%3，低于下限 %4%3</source>
        <translation>Alarm: %1 = %2%3, below the low limit %4%3</translation>
    </message>
    <message>
        <source>报警列表是空的。</source>
        <translation>The alarm list is empty.</translation>
    </message>
    <message>
        <source>报警列表无法保存：%1</source>
        <translation>The alarm list could not be saved: %1</translation>
    </message>
    <message>
        <source>报警列表已保存到 %1</source>
        <translation>Alarm list saved to %1</translation>
    </message>
    <message>
        <source>清除数据</source>
        <translation>Clearing the data</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>%1会清除图表中监视的数据。尚未导出的数据将丢失。

继续吗？</source>
        <translation>%1 clears the watched data in the chart. Data not exported will be lost.

Go on?</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>报警：%1</source>
        <translation>Alarm: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>第 %1 轮，每秒 %2 轮</source>
        <translation>Round %1, %2 rounds/s</translation>
    </message>
    <message>
        <source>显示导入的文件</source>
        <translation>Showing an imported file</translation>
    </message>
    <message>
        <source>监视未运行</source>
        <translation>Not watching</translation>
    </message>
    <message>
        <source>过期</source>
        <translation>Stale</translation>
    </message>
    <message>
        <source>监视记录文件 %1 正由另一个程序使用或无法判断，本次不保留监视记录。</source>
        <translation>The watch journal %1 is in use by another program or cannot be judged; this run keeps no watch journal.</translation>
    </message>
    <message>
        <source>上次监视未正常结束，监视记录中有 %1 个未保存的数值（%2 至 %3）。是否恢复到监视的图表中？</source>
        <translation>The last watch did not end normally; its journal holds %1 unsaved values (%2 to %3). Restore them into the watch's chart?</translation>
    </message>
    <message>
        <source>内存不足：监视记录未能全部恢复到图表中。</source>
        <translation>Out of memory: not all of the watch journal could be restored into the chart.</translation>
    </message>
    <message>
        <source>距今(s)</source>
        <translation>Age (s)</translation>
    </message>
</context>
<context>
    <name>TfrmWatchSetup</name>
    <message>
        <source>监视设置</source>
        <translation>Watch Setup</translation>
    </message>
    <message>
        <source>模块</source>
        <translation>Modules</translation>
    </message>
    <message>
        <source>添加模块(&amp;A)</source>
        <translation>&amp;Add Module</translation>
    </message>
    <message>
        <source>删除模块(&amp;D)</source>
        <translation>&amp;Delete Module</translation>
    </message>
    <message>
        <source>使用当前小数位和单位(&amp;U)</source>
        <translation>&amp;Use current decimals and unit</translation>
    </message>
    <message>
        <source>计算通道</source>
        <translation>Computed channels</translation>
    </message>
    <message>
        <source>添加通道(&amp;C)</source>
        <translation>Add &amp;Channel</translation>
    </message>
    <message>
        <source>删除通道(&amp;R)</source>
        <translation>&amp;Remove Channel</translation>
    </message>
    <message>
        <source>超时(ms)</source>
        <translation>Time-out (ms)</translation>
    </message>
    <message>
        <source>连续未应答几次判为失去</source>
        <translation>Misses in a row until lost</translation>
    </message>
    <message>
        <source>失去后每几轮询问一次</source>
        <translation>Ask a lost module every n rounds</translation>
    </message>
    <message>
        <source>合计</source>
        <translation>Sum</translation>
    </message>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>差值（第一减第二）</source>
        <translation>Difference (first minus second)</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>小数位</source>
        <translation>Decimals</translation>
    </message>
    <message>
        <source>单位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>绘图</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Low limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>成员（模块序号，逗号分隔）</source>
        <translation>Members (module numbers, comma-separated)</translation>
    </message>
    <message>
        <source>模块 %1</source>
        <translation>Module %1</translation>
    </message>
    <message>
        <source>%1：下限和上限须为数字或留空。</source>
        <translation>%1: the limits must be numbers or empty.</translation>
    </message>
    <message>
        <source>%1：名称不能为空。</source>
        <translation>%1: the name must not be empty.</translation>
    </message>
    <message>
        <source>%1：名称“%2”已有，每个模块和通道须有自己的名称。</source>
        <translation>%1: the name &quot;%2&quot; is taken; every module and channel needs its own name.</translation>
    </message>
    <message>
        <source>最多监视 %1 个模块。</source>
        <translation>At most %1 modules can be watched.</translation>
    </message>
    <message>
        <source>模块第 %1 行</source>
        <translation>Module row %1</translation>
    </message>
    <message>
        <source>%1：地址须为 1 到 %2 之间的整数。</source>
        <translation>%1: the address must be a whole number from 1 to %2.</translation>
    </message>
    <message>
        <source>%1：地址 %2 已在列表中。</source>
        <translation>%1: address %2 is already in the list.</translation>
    </message>
    <message>
        <source>%1：小数位须为 %2 到 %3 之间的整数。</source>
        <translation>%1: the decimals must be a whole number from %2 to %3.</translation>
    </message>
    <message>
        <source>最多 %1 个计算通道。</source>
        <translation>At most %1 computed channels.</translation>
    </message>
    <message>
        <source>计算通道第 %1 行</source>
        <translation>Channel row %1</translation>
    </message>
    <message>
        <source>%1：成员须为模块的序号（1 到 %2），以逗号分隔。</source>
        <translation>%1: the members must be module numbers (1 to %2), separated by commas.</translation>
    </message>
    <message>
        <source>%1：差值须有两个成员。</source>
        <translation>%1: a difference needs two members.</translation>
    </message>
    <message>
        <source>%1：至少须有一个成员。</source>
        <translation>%1: at least one member is needed.</translation>
    </message>
</context>
<context>
    <name>ZeroCalibration</name>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>即将标定传感器零点，请去掉传感器上的所有附加载荷</source>
        <translation>The sensor zero is about to be calibrated: remove every additional load from the sensor.</translation>
    </message>
    <message>
        <source>标定中...</source>
        <translation>Calibrating...</translation>
    </message>
    <message>
        <source>读取超时！</source>
        <translation>Read timed out!</translation>
    </message>
    <message>
        <source>设置成功！</source>
        <translation>Set OK!</translation>
    </message>
    <message>
        <source>写入失败！</source>
        <translation>Write failed!</translation>
    </message>
</context>
</TS>
