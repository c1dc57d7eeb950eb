object Form1: TForm1
  Left = 192
  Top = 107
  Caption = 'Sample main window'
  ClientHeight = 320
  ClientWidth = 480
  Color = clBtnFace
  Font.Style = []
  Hint = 'Gr'#252#223'e '#10003
  Menu = MainMenu1
  OldCreateOrder = False
  OnCreate = FormCreate
  OnDblClick = FormDblClick
  DesignSize = (
    480
    320)
  PixelsPerInch = 96
  TextHeight = 13
  object Label1: TLabel
    Left = 8
    Top = 8
    Width = 464
    Height = 13
    Caption = 
      'Type a name into the field below and press OK; it'#39's kept until t' +
      'he program ends.'
    WordWrap = True
  end
  object Edit1: TEdit
    Left = 8
    Top = 32
    Width = 464
    Height = 21
    Text = 'Caf'#233
    Tag = 78187493530
    OnChange = Edit1Change
  end
  object Button1: TButton
    Left = 316
    Top = 272
    Width = 75
    Height = 25
    Anchors = [akRight, akBottom]
    Caption = '&OK'
    Default = True
    ModalResult = 1
    OnClick = Button1Click
  end
  object Panel1: TPanel
    Left = 8
    Top = 64
    Width = 464
    Height = 196
    BevelOuter = bvLowered
    object Button2: TButton
      Left = 8
      Top = 8
      Width = 75
      Height = 25
      Caption = 'Apply'
      OnClick = Button1Click
    end
    object Image1: TImage
      Left = 96
      Top = 8
      Width = 32
      Height = 32
      Picture.Data = {
        07544269746D6170424D00070E151C232A31383F464D545B626970777E858C93
        9AA1A8AFB6BDC4CBD2D9E0E7EEF5}
    end
  end
  object StatusBar1: TStatusBar
    Left = 0
    Top = 301
    Width = 480
    Height = 19
    Panels = <
      item
        Text = 'Ready'
        Width = 200
      end
      item [1]
        Alignment = taRightJustify
        Width = 50
      end>
  end
  object MainMenu1: TMainMenu
    Left = 400
    Top = 16
    object File1: TMenuItem
      Caption = '&File'
      object Open1: TMenuItem
        Caption = '&Open...'
        OnClick = Button1Click
      end
      object Exit1: TMenuItem
        Caption = 'E&xit'
        OnClick = FormCreate
      end
    end
  end
end
