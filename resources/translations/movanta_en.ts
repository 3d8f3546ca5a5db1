<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AppInstaller</name>
    <message>
        <source>其他软件包管理器一直在运行</source>
        <translation>Another package manager kept running</translation>
    </message>
    <message>
        <source>正在处理中</source>
        <translation>Processing</translation>
    </message>
    <message>
        <source>应用安装</source>
        <translation>Installing applications</translation>
    </message>
    <message>
        <source>应用安装 %1</source>
        <translation>Installing %1</translation>
    </message>
</context>
<context>
    <name>ChoosePC</name>
    <message>
        <source>ChoosePC</source>
        <translation>ChoosePC</translation>
    </message>
    <message>
        <source>您正在使用的电脑是</source>
        <translation>The computer you are using is</translation>
    </message>
    <message>
        <source>这是新电脑（接收数据）</source>
        <translation>This is the new computer (receives data)</translation>
    </message>
    <message>
        <source>选择此选项将作为数据接收端</source>
        <translation>Choose this to receive the data</translation>
    </message>
    <message>
        <source>这是旧电脑（发送数据）</source>
        <translation>This is the old computer (sends data)</translation>
    </message>
    <message>
        <source>选择此选项将作为数据发送端</source>
        <translation>Choose this to send the data</translation>
    </message>
</context>
<context>
    <name>CircularProgressBar</name>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
</context>
<context>
    <name>CloneProgressWidget</name>
    <message>
        <source>CloneProgressWidget</source>
        <translation>CloneProgressWidget</translation>
    </message>
    <message>
        <source>配对连接</source>
        <translation>Pair</translation>
    </message>
    <message>
        <source>选择数据</source>
        <translation>Choose data</translation>
    </message>
    <message>
        <source>迁移数据</source>
        <translation>Migrate</translation>
    </message>
    <message>
        <source>迁移完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>迁移步骤</source>
        <translation>Migration steps</translation>
    </message>
    <message>
        <source>第 %1 步，共 4 步：%2</source>
        <translation>Step %1 of 4: %2</translation>
    </message>
</context>
<context>
    <name>FileDialog</name>
    <message>
        <source>Movanta</source>
        <translation>Movanta</translation>
    </message>
    <message>
        <source>&lt; 返回</source>
        <translation>&lt; Back</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ListView</name>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>按名称筛选列表</source>
        <translation>Filter the list by name</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>显示已选项</source>
        <translation>Show selected</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>删除选中的项</source>
        <translation>Remove the selected items</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>加载中...</source>
        <translation>Loading...</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Movanta</source>
        <translation>Movanta</translation>
    </message>
    <message>
        <source>选择角色后点击下一步继续 </source>
        <translation>Choose a role, then click Next </translation>
    </message>
    <message>
        <source>下一步 </source>
        <translation>Next </translation>
    </message>
    <message>
        <source>上一步</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>主页</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>继续传输</source>
        <translation>Continue transfer</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>连接断开!</source>
        <translation>Connection lost!</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>MigrationWatch</name>
    <message>
        <source>正在迁移数据，休眠会中断迁移</source>
        <translation>Migrating data; sleeping would break the migration</translation>
    </message>
    <message>
        <source>迁移完成，请在旧电脑上查看报告</source>
        <translation>Migration complete. See the report on the old computer</translation>
    </message>
    <message>
        <source>数据发送完毕，请查看迁移报告</source>
        <translation>All data sent. See the migration report</translation>
    </message>
    <message>
        <source>连接断开，迁移没有完成</source>
        <translation>The connection broke; the migration did not finish</translation>
    </message>
    <message>
        <source>迁移中断</source>
        <translation>Migration interrupted</translation>
    </message>
    <message>
        <source>迁移完成</source>
        <translation>Migration complete</translation>
    </message>
</context>
<context>
    <name>NewPCConnectPage</name>
    <message>
        <source>NewPCConnectPage</source>
        <translation>NewPCConnectPage</translation>
    </message>
    <message>
        <source>已有 %1 次错误的配对码尝试</source>
        <translation>%1 wrong pairing codes have been tried</translation>
    </message>
    <message>
        <source>正在安装：</source>
        <translation>Installing: </translation>
    </message>
    <message>
        <source>加密连接</source>
        <translation>Encrypted connection</translation>
    </message>
    <message>
        <source>未加密：对方为旧版本</source>
        <translation>Not encrypted: the other computer runs an older version</translation>
    </message>
</context>
<context>
    <name>NewPCView</name>
    <message>
        <source>NewPCView</source>
        <translation>NewPCView</translation>
    </message>
    <message>
        <source>请在旧电脑选择并连接至此新电脑</source>
        <translation>On the old computer, choose and connect to this new computer</translation>
    </message>
    <message>
        <source>新电脑（接收数据）</source>
        <translation>New computer (receives data)</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>无法在端口 4399 上等待连接：该端口已被其他程序占用</source>
        <translation>Cannot wait for connections on port 4399: another program is using it</translation>
    </message>
    <message>
        <source>可作为&quot;%1&quot;被发现</source>
        <translation>Visible as &quot;%1&quot;</translation>
    </message>
</context>
<context>
    <name>OldPCConnectPage</name>
    <message>
        <source>OldPCConnectPage</source>
        <translation>OldPCConnectPage</translation>
    </message>
    <message>
        <source>连接中断</source>
        <translation>Connection broken</translation>
    </message>
    <message>
        <source>正在发送数据...</source>
        <translation>Sending data...</translation>
    </message>
    <message>
        <source>应用安装</source>
        <translation>Installing applications</translation>
    </message>
    <message>
        <source>需要在新电脑输入密码</source>
        <translation>Enter the password on the new computer</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>加密连接</source>
        <translation>Encrypted connection</translation>
    </message>
    <message>
        <source>未加密：对方为旧版本</source>
        <translation>Not encrypted: the other computer runs an older version</translation>
    </message>
</context>
<context>
    <name>OldPCView</name>
    <message>
        <source>OldPCView</source>
        <translation>OldPCView</translation>
    </message>
    <message>
        <source>请选择新电脑</source>
        <translation>Choose the new computer</translation>
    </message>
</context>
<context>
    <name>PCItem</name>
    <message>
        <source>PCItem</source>
        <translation>PCItem</translation>
    </message>
</context>
<context>
    <name>PCPairPage</name>
    <message>
        <source>PCPairPage</source>
        <translation>PCPairPage</translation>
    </message>
    <message>
        <source>请在旧电脑输入配对码</source>
        <translation>Enter this pairing code on the old computer</translation>
    </message>
    <message>
        <source>等待连接</source>
        <translation>Waiting for connection</translation>
    </message>
    <message>
        <source>配对码</source>
        <translation>Pairing code</translation>
    </message>
    <message>
        <source>请输入新电脑的配对码</source>
        <translation>Enter the pairing code shown on the new computer</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>PageSendObserver</name>
    <message>
        <source>正在新电脑上安装 %1 个应用</source>
        <translation>Installing %1 applications on the new computer</translation>
    </message>
</context>
<context>
    <name>ReceiverEngine</name>
    <message>
        <source>等待连接</source>
        <translation>Waiting for connection</translation>
    </message>
    <message>
        <source>正在接收数据...</source>
        <translation>Receiving data...</translation>
    </message>
    <message>
        <source>迁移完成，请在旧电脑上查看报告</source>
        <translation>Migration complete. See the report on the old computer</translation>
    </message>
    <message>
        <source>连接中断</source>
        <translation>Connection broken</translation>
    </message>
</context>
<context>
    <name>ReportLine</name>
    <message>
        <source>报告生成时间：</source>
        <translation>Report created: </translation>
    </message>
    <message>
        <source>yyyy年MM月dd日-hh:mm:ss</source>
        <translation>yyyy-MM-dd hh:mm:ss</translation>
    </message>
</context>
<context>
    <name>ResultCodes</name>
    <message>
        <source>发送文件失败</source>
        <translation>Sending the file failed</translation>
    </message>
    <message>
        <source>无法创建目录</source>
        <translation>Cannot create the folder</translation>
    </message>
    <message>
        <source>无法创建或打开文件</source>
        <translation>Cannot create or open the file</translation>
    </message>
    <message>
        <source>连接已关闭</source>
        <translation>Connection closed</translation>
    </message>
    <message>
        <source>文件不存在或被锁定</source>
        <translation>File missing or locked</translation>
    </message>
    <message>
        <source>应用安装失败</source>
        <translation>Installation failed</translation>
    </message>
    <message>
        <source>网络异常</source>
        <translation>Network error</translation>
    </message>
</context>
<context>
    <name>ResultPage</name>
    <message>
        <source>数据迁移报告</source>
        <translation>Migration report</translation>
    </message>
    <message>
        <source>报告路径：</source>
        <translation>Report folder: </translation>
    </message>
    <message>
        <source>报告生成时间：2024-01-18 15:30:45</source>
        <translation>Report created: 2024-01-18 15:30:45</translation>
    </message>
    <message>
        <source>总文件数量</source>
        <translation>Files</translation>
    </message>
    <message>
        <source>总数据大小</source>
        <translation>Data size</translation>
    </message>
    <message>
        <source>迁移完成率</source>
        <translation>Completed</translation>
    </message>
    <message>
        <source>总消耗时长</source>
        <translation>Time taken</translation>
    </message>
    <message>
        <source>迁移状态概览</source>
        <translation>Overview</translation>
    </message>
    <message>
        <source>迁移成功</source>
        <translation>Migrated</translation>
    </message>
    <message>
        <source>成功文件数</source>
        <translation>Files migrated</translation>
    </message>
    <message>
        <source>成功数据大小</source>
        <translation>Data migrated</translation>
    </message>
    <message>
        <source>迁移失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>失败文件数</source>
        <translation>Files failed</translation>
    </message>
    <message>
        <source>失败数据大小</source>
        <translation>Data failed</translation>
    </message>
    <message>
        <source>失败详情</source>
        <translation>Failures</translation>
    </message>
    <message>
        <source>查看详情</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>文件大小</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>失败原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>失败时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>耗时</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>成功迁移文件</source>
        <translation>Migrated files</translation>
    </message>
    <message>
        <source>完成时间</source>
        <translation>Finished</translation>
    </message>
    <message>
        <source>QScrollArea#ResultPage {
	background-color: white;
	border: none;
	margin: 4px 10px;
}
QWidget#scrollAreaWidgetContents {
	background-color: white;
}
QLabel#titleL {
	font-size: 20px;
	font-weight: bold;
	color: #111827;
}
QLabel#reportLocationL {
	color: green;
	font-size: 12px;
}
QLabel#timeL {
	color: #6B7280;
	font-size: 12px;
}
QWidget#widget1, QWidget#widget2, QWidget#widget3, QWidget#widget4 {
	background-color: #F9FAFB;
	border-radius: 8px;
}
QLabel#fileCountCaption, QLabel#dataSizeCaption, QLabel#percentageCaption, QLabel#totalTimeCaption,
QLabel#averageSpeedL {
	font-size: 12px;
	color: #4B5563;
}
QLabel#fileCountL, QLabel#dataSizeL, QLabel#transPercentageL, QLabel#totalTimeL {
	font-size: 16px;
	font-weight: bold;
	color: #111827;
}
QLabel#overviewL, QLabel#failedDetailsL, QLabel#succeededDetailsL {
	font-size: 16px;
	font-weight: bold;
	color: #1F2937;
}
QWidget#infoWidget {
	background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #2563EB, stop:1 #1E40AF);
	border-radius: 8px;
}
QWidget#fInfoWidget {
	background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #EF4444, stop:1 #DC2626);
	border-radius: 8px;
}
QWidget#infoWidget QLabel, QWidget#fInfoWidget QLabel {
	color: white;
	font-size: 12px;
	background: transparent;
}
QLabel#sentHeading, QLabel#failedHeading {
	font-size: 16px;
	font-weight: bold;
}
QLabel#sentCount, QLabel#sentSize, QLabel#failedCount, QLabel#failedSize {
	font-size: 14px;
	font-weight: bold;
}
QTableWidget {
	border: none;
	border-radius: 8px;
	padding: 5px;
	font-size: 12px;
	color: #374151;
}
QTableWidget#tableWidget {
	background-color: #FEF2F2;
}
QTableWidget#tableWidget_2 {
	background-color: #EFF6FF;
}
QTableWidget QLabel {
	background: transparent;
	padding: 0px 6px;
}
QTableWidget#tableWidget QLabel {
	border-bottom: 1px solid #FDE4E4;
}
QTableWidget#tableWidget_2 QLabel {
	border-bottom: 1px solid #DDEBFD;
}
QHeaderView {
	background: transparent;
	border: none;
}
QHeaderView::section {
	border: none;
	border-radius: 8px;
	font-size: 14px;
	font-weight: bold;
	padding: 6px 4px;
}
QTableWidget#tableWidget QHeaderView::section {
	background-color: #FEE2E2;
	color: #991B1B;
}
QTableWidget#tableWidget_2 QHeaderView::section {
	background-color: #DBEAFE;
	color: #1E3A8A;
}
QPushButton {
	background-color: #EFEFEF;
	border: none;
	border-radius: 4px;
	padding: 5px 14px;
	font-size: 12px;
	color: #374151;
}
QPushButton:hover {
	color: #999;
}</source>
        <translation>QScrollArea#ResultPage {
	background-color: white;
	border: none;
	margin: 4px 10px;
}
QWidget#scrollAreaWidgetContents {
	background-color: white;
}
QLabel#titleL {
	font-size: 20px;
	font-weight: bold;
	color: #111827;
}
QLabel#reportLocationL {
	color: green;
	font-size: 12px;
}
QLabel#timeL {
	color: #6B7280;
	font-size: 12px;
}
QWidget#widget1, QWidget#widget2, QWidget#widget3, QWidget#widget4 {
	background-color: #F9FAFB;
	border-radius: 8px;
}
QLabel#fileCountCaption, QLabel#dataSizeCaption, QLabel#percentageCaption, QLabel#totalTimeCaption,
QLabel#averageSpeedL {
	font-size: 12px;
	color: #4B5563;
}
QLabel#fileCountL, QLabel#dataSizeL, QLabel#transPercentageL, QLabel#totalTimeL {
	font-size: 16px;
	font-weight: bold;
	color: #111827;
}
QLabel#overviewL, QLabel#failedDetailsL, QLabel#succeededDetailsL {
	font-size: 16px;
	font-weight: bold;
	color: #1F2937;
}
QWidget#infoWidget {
	background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #2563EB, stop:1 #1E40AF);
	border-radius: 8px;
}
QWidget#fInfoWidget {
	background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #EF4444, stop:1 #DC2626);
	border-radius: 8px;
}
QWidget#infoWidget QLabel, QWidget#fInfoWidget QLabel {
	color: white;
	font-size: 12px;
	background: transparent;
}
QLabel#sentHeading, QLabel#failedHeading {
	font-size: 16px;
	font-weight: bold;
}
QLabel#sentCount, QLabel#sentSize, QLabel#failedCount, QLabel#failedSize {
	font-size: 14px;
	font-weight: bold;
}
QTableWidget {
	border: none;
	border-radius: 8px;
	padding: 5px;
	font-size: 12px;
	color: #374151;
}
QTableWidget#tableWidget {
	background-color: #FEF2F2;
}
QTableWidget#tableWidget_2 {
	background-color: #EFF6FF;
}
QTableWidget QLabel {
	background: transparent;
	padding: 0px 6px;
}
QTableWidget#tableWidget QLabel {
	border-bottom: 1px solid #FDE4E4;
}
QTableWidget#tableWidget_2 QLabel {
	border-bottom: 1px solid #DDEBFD;
}
QHeaderView {
	background: transparent;
	border: none;
}
QHeaderView::section {
	border: none;
	border-radius: 8px;
	font-size: 14px;
	font-weight: bold;
	padding: 6px 4px;
}
QTableWidget#tableWidget QHeaderView::section {
	background-color: #FEE2E2;
	color: #991B1B;
}
QTableWidget#tableWidget_2 QHeaderView::section {
	background-color: #DBEAFE;
	color: #1E3A8A;
}
QPushButton {
	background-color: #EFEFEF;
	border: none;
	border-radius: 4px;
	padding: 5px 14px;
	font-size: 12px;
	color: #374151;
}
QPushButton:hover {
	color: #999;
}</translation>
    </message>
    <message>
        <source>平均速度 </source>
        <translation>Average speed </translation>
    </message>
    <message>
        <source>跳过文件数</source>
        <translation>Skipped (unchanged)</translation>
    </message>
    <message>
        <source>重新发送失败项</source>
        <translation>Resend failed items</translation>
    </message>
</context>
<context>
    <name>SelectDataView</name>
    <message>
        <source>设备和驱动</source>
        <translation>Devices and drives</translation>
    </message>
    <message>
        <source>title</source>
        <translation>title</translation>
    </message>
    <message>
        <source>应用和系统设置</source>
        <translation>Applications and settings</translation>
    </message>
    <message>
        <source>新电脑存储状态</source>
        <translation>New computer storage</translation>
    </message>
    <message>
        <source>总容量</source>
        <translation>Capacity</translation>
    </message>
    <message>
        <source>caption</source>
        <translation>caption</translation>
    </message>
    <message>
        <source>0 B</source>
        <translation>0 B</translation>
    </message>
    <message>
        <source>value</source>
        <translation>value</translation>
    </message>
    <message>
        <source>已使用</source>
        <translation>Used</translation>
    </message>
    <message>
        <source>可用空间</source>
        <translation>Free</translation>
    </message>
    <message>
        <source>已选文件</source>
        <translation>Selected</translation>
    </message>
    <message>
        <source>0 个</source>
        <translation>0 items</translation>
    </message>
    <message>
        <source>占用空间</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>预计耗时</source>
        <translation>Estimated time</translation>
    </message>
    <message>
        <source>0 秒</source>
        <translation>0 s</translation>
    </message>
    <message>
        <source>将选中的数据传输到新电脑</source>
        <translation>Send the selected data to the new computer</translation>
    </message>
    <message>
        <source>开始传输</source>
        <translation>Start transfer</translation>
    </message>
    <message>
        <source>用户数据</source>
        <translation>User data</translation>
    </message>
    <message>
        <source>系统设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>应用程序</source>
        <translation>Applications</translation>
    </message>
    <message>
        <source>%1 个</source>
        <translation>%1 items</translation>
    </message>
    <message>
        <source>克隆期间, 请退出所有其他应用程序
请不要在传输过程中修改任何文件
</source>
        <translation>While migrating, please quit all other applications
and do not change any files during the transfer
</translation>
    </message>
    <message>
        <source>
当前网络不可用, 应用安装可能失败
</source>
        <translation>
The network is not available; installing applications may fail
</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>SendSession</name>
    <message>
        <source>正在处理中</source>
        <translation>Processing</translation>
    </message>
    <message>
        <source>应用安装</source>
        <translation>Installing applications</translation>
    </message>
</context>
<context>
    <name>TimeText</name>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source> 分钟</source>
        <translation> min</translation>
    </message>
    <message>
        <source> 小时</source>
        <translation> h</translation>
    </message>
</context>
<context>
    <name>TitleBar</name>
    <message>
        <source>TitleBar</source>
        <translation>TitleBar</translation>
    </message>
    <message>
        <source>Movanta</source>
        <translation>Movanta</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>打开使用说明</source>
        <translation>Open the user manual</translation>
    </message>
    <message>
        <source>使用说明</source>
        <translation>User manual</translation>
    </message>
    <message>
        <source>?</source>
        <translation>?</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>最小化窗口</source>
        <translation>Minimize the window</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>关闭程序</source>
        <translation>Close the program</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;欢迎使用  Movanta&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Welcome to Movanta&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Movanta可以帮助您轻松地将数据从旧电脑迁移到新电脑</source>
        <translation>Movanta moves your data from the old computer to the new one</translation>
    </message>
</context>
<context>
    <name>TransferFigures</name>
    <message>
        <source>%1 / %2 个文件</source>
        <translation>%1 / %2 files</translation>
    </message>
    <message>
        <source>速度 </source>
        <translation>Speed </translation>
    </message>
    <message>
        <source>正在估算剩余时间</source>
        <translation>Estimating the time left</translation>
    </message>
    <message>
        <source>即将完成</source>
        <translation>Almost done</translation>
    </message>
    <message>
        <source>剩余约 %1</source>
        <translation>About %1 left</translation>
    </message>
    <message>
        <source>平均速度 </source>
        <translation>Average speed </translation>
    </message>
</context>
<context>
    <name>TransferPage</name>
    <message>
        <source>TransferPage</source>
        <translation>TransferPage</translation>
    </message>
    <message>
        <source>正在接收数据...</source>
        <translation>Receiving data...</translation>
    </message>
    <message>
        <source>旧电脑（发送数据）</source>
        <translation>Old computer (sends data)</translation>
    </message>
    <message>
        <source>新电脑（接收数据）</source>
        <translation>New computer (receives data)</translation>
    </message>
    <message>
        <source>迁移进度</source>
        <translation>Migration progress</translation>
    </message>
    <message>
        <source>已跳过 %1 个未改动的文件</source>
        <translation>Skipped %1 unchanged file(s)</translation>
    </message>
</context>
</TS>
